// Where the streams of a part of a movie, or of a sound file laid in, lie:
// times and rates read as ffmpeg reads them, timecodes moved with a part's
// first frame, the packets a window keeps, and the frames a part picks.
#include "tools/vemra-render/io/movie_span.h"

extern "C" {
#include <libavcodec/packet.h>
}

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tools/vemra-render/io/movie_sequence.h"
#include "tools/vemra-render/jobs/movie_part.h"

namespace render {
namespace {

TEST(MovieSpan, TimesAndRatesReadAsFfmpegReadsThem) {
    const struct {
        const char* text;
        std::optional<std::int64_t> microseconds;
    } times[] = {
        {"12", 12000000},        {"12.5", 12500000},      {"-0.04", -40000},  {"01:02.5", 62500000},
        {"00:00:03.5", 3500000}, {"1:00:00", 3600000000}, {"", std::nullopt}, {"ten", std::nullopt},
    };
    for (const auto& time : times) {
        EXPECT_EQ(ParseMovieTime(time.text), time.microseconds) << time.text;
    }
    const struct {
        const char* text;
        int num, den;
    } rates[] = {{"25", 25, 1},         {"24000/1001", 24000, 1001},
                 {"ntsc", 30000, 1001}, {"0", 0, 1},
                 {"-24", 0, 1},         {"fast", 0, 1}};
    for (const auto& rate : rates) {
        const Rational read = ParseFrameRate(rate.text);
        EXPECT_EQ(read.valid() ? read.num : 0, rate.num) << rate.text;
        if (read.valid()) {
            EXPECT_EQ(read.den, rate.den) << rate.text;
        }
    }
}

TEST(MovieSpan, ATimecodeMovesOnWithThePartsFirstFrame) {
    const struct {
        const char* timecode;
        Rational rate;
        long frames;
        const char* moved;
    } rows[] = {
        {"01:00:00:00", {25, 1}, 38, "01:00:01:13"},
        {"00:59:59:24", {25, 1}, 1, "01:00:00:00"},
        // Drop-frame: frames 00 and 01 of each minute but every tenth are skipped.
        {"00:00:59;29", {30000, 1001}, 1, "00:01:00;02"},
        {"00:09:59;29", {30000, 1001}, 1, "00:10:00;00"},
        {"not a timecode", {25, 1}, 10, "not a timecode"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(MovedTimecode(row.timecode, row.rate, row.frames), row.moved) << row.timecode;
    }
    EXPECT_EQ(TimecodeMicroseconds("01:00:00:10", {25, 1}), 3600400000);
    EXPECT_EQ(TimecodeMicroseconds("01:00", {25, 1}), std::nullopt);
}

TEST(MovieSpan, AWindowKeepsThePacketsItHoldsAndCountsALateStart) {
    // A window of 1000 to 2000 ticks; packets of 100 ticks.
    const StreamWindow window{1000, 2000, 0};
    const struct {
        std::int64_t start;
        StreamKind kind;
        bool edit_list;
        bool kept;
        std::int64_t late_start;  ///< after the packet
        std::int64_t pts;         ///< as written, where kept
    } rows[] = {
        {850, StreamKind::kAudio, true, false, -1, 0},   // ends before the window
        {950, StreamKind::kAudio, true, true, 0, 950},   // across its start, an edit list trims it
        {950, StreamKind::kAudio, false, false, -1, 0},  // no edit list: dropped ...
        {1030, StreamKind::kAudio, false, true, 30, 1030},   // ... and the next is late
        {950, StreamKind::kSubtitle, false, true, 0, 1000},  // a subtitle starts with it
        {2000, StreamKind::kAudio, true, false, -1, 0},      // at its end: past it
    };
    std::int64_t late_start = -1;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.start);
        if (row.start != 1030) late_start = -1;  // the dropped one and the next are one stream
        AVPacket* packet = av_packet_alloc();
        packet->pts = packet->dts = row.start;
        packet->duration = 100;
        EXPECT_EQ(PlacePacket(*packet, window, row.kind, row.edit_list, late_start), row.kept);
        EXPECT_EQ(late_start, row.late_start);
        if (row.kept) {
            EXPECT_EQ(packet->pts, row.pts);
        }
        av_packet_free(&packet);
    }
}

TEST(MovieSpan, APartsStreamsMoveBackWithItsFirstFrameAndASoundFileLiesWhereItIsPlaced) {
    // Video and sound counted in microseconds; the part spans 1.52 s to 2.52 s.
    SourceStream sound;
    sound.kind = StreamKind::kAudio;
    sound.time_base = {1, 1000000};
    sound.start_time = 0;
    const MovieSpan part{1520000, 2520000};
    const StreamWindow own = WindowFor(sound, {}, part, {1, 1000000}, 0);
    EXPECT_EQ(own.from, 1520000);
    EXPECT_EQ(own.to, 2520000);
    EXPECT_EQ(own.shift, -1520000);
    // A sound file 0.2 s after the first frame, by --audio-offset: it keeps
    // its place against the part's first frame.
    StreamRoute placed;
    placed.elsewhere = "shot.wav";
    placed.placed_at = 200000;
    const StreamWindow offset = WindowFor(sound, placed, part, {1, 1000000}, 0);
    EXPECT_EQ(offset.shift, 200000);
    EXPECT_EQ(offset.from, -200000);
    EXPECT_EQ(offset.to, 800000);
    // Placed by timecode against the video's start, it moves with the part.
    placed.moves_with_part = true;
    const StreamWindow timecode = WindowFor(sound, placed, part, {1, 1000000}, 0);
    EXPECT_EQ(timecode.shift, 200000 - 1520000);
    EXPECT_EQ(timecode.from, 1320000);
}

TEST(MovieSpan, APartPicksItsFramesOnTheFramesGrid) {
    // 25 fps in a time base of 1/12800, from 0.
    SourceDescription source;
    SourceStream video;
    video.kind = StreamKind::kVideo;
    video.time_base = {1, 12800};
    video.start_time = 0;
    source.streams.push_back(std::move(video));
    source.video.index = 0;
    source.video.frame_rate = {25, 1};
    source.video.spacing = VideoSpacing{true, true};
    source.start_time = 0;
    const struct {
        std::optional<std::int64_t> start, duration;
        std::string frames;
        long count;
        std::int64_t first, end;  ///< the first frame's time and the part's end, in ticks
    } rows[] = {
        // From 1.5 s for 1 s: frames 1.52 s to 2.48 s, ending at 2.52 s.
        {1500000, 1000000, "", 25, 19456, 32256},
        {1000000, 1000000, "", 25, 12800, 25600},
        {std::nullopt, std::nullopt, "26-50", 25, 12800, 25600},
    };
    for (const auto& row : rows) {
        Options options;
        options.start = row.start;
        options.duration = row.duration;
        options.frames = row.frames;
        const MoviePart part = PlanPart(options, source);
        SCOPED_TRACE(row.frames + std::to_string(row.start.value_or(-1)));
        EXPECT_EQ(part.count, row.count);
        EXPECT_EQ(part.end, row.end);
        EXPECT_FALSE(part.Before(row.first));
        EXPECT_TRUE(part.Before(row.first - 512));
        EXPECT_FALSE(part.Past(row.end - 512));
        EXPECT_TRUE(part.Past(row.end));
    }
}

}  // namespace
}  // namespace render
