// The movie stages against the ffmpeg program: movies made by ffmpeg at test
// time must read as ffmpeg reads them, write as ffmpeg writes the same
// frames, keep what the source had, and fail when they are cut short. The
// stages are wired here as the movie job wires them, with its feed.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/vemra-render/io/movie_decoder.h"
#include "tools/vemra-render/io/movie_demuxer.h"
#include "tools/vemra-render/io/movie_encoder.h"
#include "tools/vemra-render/io/movie_formats.h"
#include "tools/vemra-render/io/movie_muxer.h"
#include "tools/vemra-render/io/movie_policy.h"
#include "tools/vemra-render/io/stream_plan.h"
#include "tools/vemra-render/jobs/movie_feed.h"

namespace render {
namespace {

namespace fs = std::filesystem;

const std::string kFfmpeg = VEMRA_FFMPEG;

std::string Ffprobe() {
    return (fs::path(kFfmpeg).parent_path() / "ffprobe").string();
}

/// Runs `command` in the shell; returns its standard output and sets `status`
/// to its exit status.
std::string Shell(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return out;
    }
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    const int raw = ::pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

/// Standard output of `command`; fails the test when the command fails.
std::string Output(const std::string& command) {
    int status = 0;
    std::string out = Shell(command, status);
    EXPECT_EQ(status, 0) << command;
    return out;
}

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

/// A test movie: how ffmpeg makes it, and how ffmpeg reads it back as raw
/// RGBA video of the reader's sample type.
struct Source {
    const char* file;
    const char* video;  ///< ffmpeg options for the video stream
    const char* audio;  ///< ffmpeg options for the audio stream
    const char* raw;    ///< the raw RGBA format of the reader's type
    /// The raw format ffmpeg takes the frames in when it encodes them: with
    /// alpha only when the source has one.
    const char* pipe;
    SampleType type;
    bool alpha;
};

// 12 frames of 64x48 at 25 fps with a 440 Hz tone: H.264 4:2:0 tagged
// BT.709 (4:2:0 siting and a matrix other than the default), ProRes 4444
// with a horizontal alpha ramp and a timecode, FFV1 16-bit RGB, OpenEXR float.
const Source kSources[] = {
    {"h264.mp4",
     "-c:v libx264 -pix_fmt yuv420p -colorspace bt709 -color_primaries bt709 -color_trc bt709 "
     "-color_range tv",
     "-c:a aac", "rgba", "rgb24", SampleType::kUint8, false},
    {"prores.mov",
     "-vf \"format=yuva444p10le,geq=lum='lum(X,Y)':cb='cb(X,Y)':cr='cr(X,Y)':a='16*X'\" "
     "-c:v prores_ks -profile:v 4444 -pix_fmt yuva444p10le -timecode 01:00:00:00",
     "-c:a pcm_s16le", "rgba64le", "rgba64le", SampleType::kUint16, true},
    {"ffv1.mkv", "-c:v ffv1 -pix_fmt gbrp16le", "-c:a flac", "rgba64le", "rgb48le",
     SampleType::kUint16, false},
    {"float.mkv", "-vf format=gbrapf32le -c:v exr", "-c:a flac", "gbrapf32le", "gbrapf32le",
     SampleType::kFloat, true},
};

constexpr int kWidth = 64, kHeight = 48, kFrames = 12;

class MovieIo : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string templ = (fs::temp_directory_path() / "vemra-movie-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        dir_ = templ;
        for (const Source& source : kSources) {
            int status = 0;
            Shell(kFfmpeg + " -v error -y -f lavfi -i testsrc2=size=64x48:rate=25 -f lavfi -i " +
                      "sine=frequency=440:sample_rate=48000 -t 0.48 " + source.video + " " +
                      source.audio + " " + Quoted(dir_ / source.file),
                  status);
            ASSERT_EQ(status, 0) << source.file;
        }
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    void SetUp() override {
        if (kFfmpeg.empty())
            GTEST_SKIP() << "ffmpeg not installed (scripts/install-deps.sh render)";
    }

    /// Every frame of `path` as the demuxer and decoder give it,
    /// concatenated, in the layout of ffmpeg's raw output (float as planes of
    /// green, blue, red, alpha).
    static std::string ReadAll(const fs::path& path, long& frames) {
        MovieDemuxer demuxer(path.string(), 1u << 20);
        MovieDecoder decoder(demuxer.source(), 0);
        MovieFeed feed(demuxer, decoder);
        DecodedFrame decoded;
        MovieFrame frame;
        std::string bytes;
        frames = 0;
        while (feed.Next(decoded)) {
            decoder.Convert(decoded, frame);
            EXPECT_EQ(frame.number, ++frames);
            const Image& image = frame.image;
            const std::size_t pixels = std::size_t(image.width) * std::size_t(image.height);
            if (image.type != SampleType::kFloat) {
                bytes.append(reinterpret_cast<const char*>(image.pixels.data()),
                             pixels * image.PixelBytes());
                continue;
            }
            for (int channel : {1, 2, 0, 3}) {
                for (std::size_t i = 0; i < pixels; ++i) {
                    bytes.append(reinterpret_cast<const char*>(image.pixels.data()) +
                                     (4 * i + std::size_t(channel)) * sizeof(float),
                                 sizeof(float));
                }
            }
        }
        return bytes;
    }

    /// Reads `source` and writes its frames unchanged to `target`, through
    /// the four stages as the movie job wires them.
    static void Copy(const fs::path& source, const fs::path& target,
                     const EncoderSettings& settings) {
        MovieDemuxer demuxer(source.string(), 1u << 20);
        SourceDescription described = demuxer.source();
        described.video.spacing = demuxer.MeasureSpacing();
        MovieMuxer muxer(target.string(), described, Routes(described, target));
        MovieEncoder encoder(described, muxer.container(), muxer.global_header(), settings,
                             target.string());
        MovieDecoder decoder(described, 0);
        MovieFeed feed(demuxer, decoder, [&](int stream) { return muxer.Takes(stream); });
        const auto video = [&](MoviePacket& packet) { muxer.WriteVideo(packet); };
        const auto copied = [&] {
            MoviePacket packet;
            while (feed.TakeOther(packet)) muxer.WriteOther(packet);
        };
        DecodedFrame decoded;
        MovieFrame frame;
        EncoderFrame encoded;
        while (feed.Next(decoded)) {
            decoder.Convert(decoded, frame);
            encoder.Prepare(frame, encoded);
            if (!encoder.opened()) {
                encoder.Open(&encoded);
                muxer.Start(encoder.stream());
            }
            encoder.Encode(encoded, video);
            copied();
        }
        encoder.Flush(video);
        copied();
        muxer.Finish();
    }

    /// Every stream copied where the container holds it.
    static std::vector<StreamRoute> Routes(const SourceDescription& source, const fs::path& target,
                                           StreamHandling handling = StreamHandling::kAuto) {
        return PlanStreams(source, *ContainerFor(target.string()), handling, handling,
                           target.string());
    }

    static fs::path dir_;
};

fs::path MovieIo::dir_;

/// Where two byte strings of frames first differ, for a failure message.
std::string FirstDifference(const std::string& a, const std::string& b, std::size_t frame_bytes) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) {
            return "frame " + std::to_string(i / frame_bytes + 1) + ", byte " +
                   std::to_string(i % frame_bytes);
        }
    }
    return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
}

TEST_F(MovieIo, ReadsTheFramesFfmpegDecodesBitForBit) {
    for (const Source& source : kSources) {
        SCOPED_TRACE(source.file);
        const fs::path path = dir_ / source.file;
        const SourceVideo video = MovieDemuxer(path.string(), 1u << 20).source().video;
        EXPECT_EQ(video.width, kWidth);
        EXPECT_EQ(video.height, kHeight);
        EXPECT_EQ(video.type, source.type);
        EXPECT_EQ(video.has_alpha, source.alpha);

        long frames = 0;
        const std::string ours = ReadAll(path, frames);
        const std::string theirs = Output(kFfmpeg + " -v error -i " + Quoted(path) +
                                          " -map 0:v:0 -f rawvideo -pix_fmt " + source.raw + " -");
        EXPECT_EQ(frames, kFrames);
        const std::size_t frame_bytes = ours.size() / std::size_t(std::max(frames, 1L));
        EXPECT_TRUE(ours == theirs) << FirstDifference(ours, theirs, frame_bytes);
    }
}

TEST_F(MovieIo, WritesWhatFfmpegWritesFromTheSameRawFrames) {
    struct Case {
        const char* source;
        const char* pix_fmt;      ///< encoder pixel format; empty: chosen
        const char* raw_options;  ///< how the raw frames are described to ffmpeg
    };
    // RGB outputs (named where the encoder also takes the source's own
    // format, which would be the default), and YCbCr ones that exercise the
    // matrix, range and 4:2:0 siting of the conversion.
    const Case cases[] = {
        {"h264.mp4", "bgr0", ""},
        {"prores.mov", "gbrap16le", ""},
        {"ffv1.mkv", "", ""},
        {"float.mkv", "", ""},
        {"h264.mp4", "yuv420p", "-colorspace bt709 -color_range tv"},
        {"prores.mov", "yuva444p10le", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " " + c.pix_fmt);
        const Source& source =
            *std::find_if(std::begin(kSources), std::end(kSources),
                          [&](const Source& s) { return std::strcmp(s.file, c.source) == 0; });
        const fs::path in = dir_ / c.source;
        const fs::path ours = dir_ / "written.mkv";
        const fs::path reference = dir_ / "reference.mkv";
        Copy(in, ours, {"ffv1", c.pix_fmt, -1});

        const std::string encode =
            std::string(" -c:v ffv1 ") + (*c.pix_fmt ? std::string("-pix_fmt ") + c.pix_fmt : "");
        Output(kFfmpeg + " -v error -i " + Quoted(in) + " -f rawvideo -pix_fmt " + source.pipe +
               " - | " + kFfmpeg + " -v error -y -f rawvideo -pix_fmt " + source.pipe +
               " -s 64x48 -r 25 " + c.raw_options + " -i - " + encode + " " + Quoted(reference));

        const auto format_of = [](const fs::path& path) {
            return Output(Ffprobe() + " -v error -select_streams v -show_entries stream=pix_fmt " +
                          "-of csv=p=0 " + Quoted(path));
        };
        EXPECT_EQ(format_of(ours), format_of(reference));
        const auto samples = [](const fs::path& path) {
            return Output(kFfmpeg + " -v error -i " + Quoted(path) +
                          " -map 0:v -fps_mode passthrough -f rawvideo -");
        };
        const std::string got = samples(ours), expected = samples(reference);
        EXPECT_FALSE(expected.empty());
        EXPECT_TRUE(got == expected) << FirstDifference(got, expected, expected.size() / kFrames);
    }
}

TEST_F(MovieIo, KeepsTimingTagsMetadataAndCopiesAudioUntouched) {
    for (const Source& source : kSources) {
        SCOPED_TRACE(source.file);
        const fs::path in = dir_ / source.file;
        const fs::path out = dir_ / (std::string("kept-") + source.file);
        Copy(in, out, {});

        // The audio packets, their timestamps and their bytes.
        const auto audio = [](const fs::path& path) {
            return Output(kFfmpeg + " -v error -i " + Quoted(path) +
                          " -map 0:a -c copy -f framemd5 -");
        };
        const std::string audio_in = audio(in);
        EXPECT_NE(audio_in.find("0,"), std::string::npos);
        EXPECT_EQ(audio(out), audio_in);

        // The video's timing and tags, and each frame's timestamps.
        const auto probe = [](const fs::path& path) {
            return Output(Ffprobe() + " -v error -select_streams v:0 -show_entries " +
                          "stream=time_base,r_frame_rate,avg_frame_rate,start_time,color_range," +
                          "color_space,color_primaries,color_transfer,sample_aspect_ratio," +
                          "field_order:stream_tags=timecode:stream_disposition=default:" +
                          "format=start_time:format_tags=title " + Quoted(path));
        };
        EXPECT_EQ(probe(out), probe(in));
        const auto frames = [](const fs::path& path) {
            return Output(Ffprobe() + " -v error -select_streams v:0 -show_entries " +
                          "frame=best_effort_timestamp,pkt_duration -of csv=p=0 " + Quoted(path));
        };
        const std::string frames_in = frames(in);
        // One line a frame (a first frame with side data adds an empty one).
        EXPECT_EQ(std::count(frames_in.begin(), frames_in.end(), '\n') -
                      long(frames_in.find("\n\n") != std::string::npos),
                  kFrames);
        EXPECT_EQ(frames(out), frames_in);
    }
}

TEST_F(MovieIo, RefusesMoviesCutShortAndFilesThatAreNotMovies) {
    const fs::path faststart = dir_ / "faststart.mp4";
    Output(kFfmpeg + " -v error -y -i " + Quoted(dir_ / "h264.mp4") +
           " -c copy -movflags +faststart " + Quoted(faststart));
    const fs::path audio_only = dir_ / "audio.mkv";
    Output(kFfmpeg + " -v error -y -i " + Quoted(dir_ / "ffv1.mkv") + " -map 0:a -c copy " +
           Quoted(audio_only));
    const fs::path text = dir_ / "notes.mov";
    std::ofstream(text) << "not a movie\n";

    // Cut at 60 %: the sample table at the end is gone (mp4, mov), the
    // sample table says more than the file holds (faststart), or the
    // clusters stop before the declared duration (mkv).
    std::vector<fs::path> refused{text, audio_only};
    for (const fs::path& whole :
         {dir_ / "h264.mp4", dir_ / "prores.mov", dir_ / "ffv1.mkv", faststart}) {
        const fs::path cut = dir_ / ("cut-" + whole.filename().string());
        fs::copy_file(whole, cut, fs::copy_options::overwrite_existing);
        fs::resize_file(cut, fs::file_size(whole) * 6 / 10);
        refused.push_back(cut);
    }
    for (const fs::path& path : refused) {
        SCOPED_TRACE(path.filename().string());
        long frames = 0;
        try {
            ReadAll(path, frames);
            ADD_FAILURE() << "read " << frames << " frames without an error";
        } catch (const MovieError& error) {
            EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos)
                << error.what();
        }
    }
    // A frame size above the limit is refused before any decoding.
    EXPECT_THROW(MovieDemuxer((dir_ / "h264.mp4").string(), kWidth * kHeight - 1), MovieRefused);
}

TEST_F(MovieIo, MuxerRefusesStreamsTheContainerCannotHoldAndDropsAnUnfinishedFile) {
    // PCM audio has no place in MP4: copying it (--audio copy) is refused
    // up front, naming the target.
    const fs::path mp4 = dir_ / "pcm.mp4";
    const MovieDemuxer prores((dir_ / "prores.mov").string(), 1u << 20);
    try {
        Routes(prores.source(), mp4, StreamHandling::kCopy);
        ADD_FAILURE() << "pcm_s16le audio accepted into mp4";
    } catch (const MovieRefused& error) {
        EXPECT_NE(std::string(error.what()).find("pcm_s16le"), std::string::npos) << error.what();
    }
    // A muxer dropped half way frees everything and leaves nothing behind,
    // neither the target nor its temporary.
    const fs::path half_dir = dir_ / "half";
    fs::create_directory(half_dir);
    {
        MovieDemuxer demuxer((dir_ / "prores.mov").string(), 1u << 20);
        SourceDescription described = demuxer.source();
        described.video.spacing = demuxer.MeasureSpacing();
        MovieMuxer muxer((half_dir / "half.mov").string(), described,
                         Routes(described, half_dir / "half.mov"));
        MovieEncoder encoder(described, muxer.container(), muxer.global_header(), {},
                             (half_dir / "half.mov").string());
        MovieDecoder decoder(described, 0);
        MovieFeed feed(demuxer, decoder, [&](int stream) { return muxer.Takes(stream); });
        DecodedFrame decoded;
        MovieFrame frame;
        EncoderFrame encoded;
        for (int i = 0; i < kFrames / 2 && feed.Next(decoded); ++i) {
            decoder.Convert(decoded, frame);
            encoder.Prepare(frame, encoded);
            if (!encoder.opened()) {
                encoder.Open(&encoded);
                muxer.Start(encoder.stream());
            }
            encoder.Encode(encoded, [&](MoviePacket& packet) { muxer.WriteVideo(packet); });
        }
    }
    EXPECT_TRUE(fs::is_empty(half_dir));
}

TEST(MoviePath, TellsMoviesByTheirExtension) {
    const std::pair<const char*, bool> cases[] = {
        {"a.mov", true},         {"dir/B.MP4", true},  {"x.y.mkv", true},       {"clip.M2TS", true},
        {"c.y4m", true},         {"frame.png", false}, {"frame.exr", false},    {"mov", false},
        {"dir.mov/file", false}, {".mov", false},      {"seq.%04d.tif", false},
    };
    for (const auto& [path, movie] : cases) EXPECT_EQ(IsMoviePath(path), movie) << path;
}

}  // namespace
}  // namespace render
