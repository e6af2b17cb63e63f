#include "tools/vemra-render/io/movie_demuxer.h"

#include <fmt/format.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/display.h>
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <new>
#include <string_view>
#include <vector>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/io/ffmpeg_log.h"
#include "tools/vemra-render/io/movie_conversion.h"
#include "tools/vemra-render/io/movie_demuxer_open.h"
#include "tools/vemra-render/io/movie_describe.h"
#include "tools/vemra-render/io/movie_formats.h"
#include "tools/vemra-render/io/movie_policy.h"
#include "tools/vemra-render/run/library_log.h"

namespace render {

using namespace movie;

namespace {

/// The stream side data of `kind` when it is at least `size` bytes; empty otherwise.
std::vector<std::uint8_t> SideData(const AVStream& stream, AVPacketSideDataType kind,
                                   std::size_t size) {
    std::size_t found = 0;
    const std::uint8_t* data = av_stream_get_side_data(&stream, kind, &found);
    if (data == nullptr || found < size) return {};
    return {data, data + size};
}

/// True when the demuxer is QuickTime's, whose header lists every sample.
bool ListsEverySample(const AVFormatContext& format) {
    return std::strstr(format.iformat->name, "mov") != nullptr;
}

}  // namespace

struct MovieDemuxer::Internals {
    SourceDescription source;
    std::uint64_t max_pixels = 0;
    InputPtr input;
    AVStream* video = nullptr;
    bool local_file = false;  ///< a second pass can open it again

    long video_packets = 0;
    /// The latest end (timestamp plus duration) of any packet read, in
    /// microseconds, and of each stream's.
    std::int64_t packets_end = kNoTimestamp;
    std::vector<std::int64_t> stream_ends;
    /// What FFmpeg logs against the demuxer, from before it opens the file.
    std::unique_ptr<LogWatch> watch;
    /// Read from a point other than the start (Seek): the packets before it
    /// are not counted.
    bool partial = false;

    [[noreturn]] void Fail(const std::string& cause) const { throw DemuxError(source.path, cause); }
    /// Finds the video stream and its decoder, and checks its frame size.
    void FindVideo();
    /// The description of every stream, the chapters and the metadata.
    void Describe();
    void DescribeVideo();
    /// Reads VP8 and VP9 with an alpha side stream through libvpx.
    void ChooseAlphaDecoder();
    /// Fails when the demuxer logged that a packet it read is damaged; its
    /// other messages go to the notes.
    void CheckDamage();
    /// Notes the packet's end in `stream_ends` and `packets_end`.
    void NoteEnd(const AVPacket& packet);
    /// Fails when the file just read to its end shows it was cut short.
    void CheckComplete() const;
    /// Fails when a stream ends before the duration the container declares.
    void CheckDurations() const;
    /// Fails when no video packet came (a raw stream cut inside its first frame).
    void CheckSomeVideo() const;
    VideoSpacing SpacingOf(std::vector<std::int64_t> stamps) const {
        return SpacingOfStamps(std::move(stamps), source.video.frame_rate,
                               ToRational(video->time_base));
    }
};

MovieDemuxer::MovieDemuxer(const std::string& path, std::uint64_t max_pixels)
    : MovieDemuxer(nullptr, path, max_pixels, {}) {}

MovieDemuxer::MovieDemuxer(AVIOContext* io, const std::string& name, std::uint64_t max_pixels,
                           const MovieProbe& probe, bool sound)
    : in_(std::make_unique<Internals>()) {
    InstallFfmpegLog();
    in_->source.path = name;
    in_->max_pixels = max_pixels;
    in_->input = OpenMovieInput(name, io, probe, max_pixels, in_->watch, sound);
    in_->local_file = io == nullptr;
    if (int code = avformat_find_stream_info(in_->input.get(), nullptr); code < 0) {
        throw MovieError(fmt::format("{}: cannot read the streams: {}", name, ErrorText(code)));
    }
    if (!sound) in_->FindVideo();
    in_->Describe();
    if (sound && std::none_of(in_->source.streams.begin(), in_->source.streams.end(),
                              [](const SourceStream& s) { return s.kind == StreamKind::kAudio; })) {
        throw MovieError(fmt::format("{}: has no sound stream", name));
    }
}

std::unique_ptr<MovieDemuxer> MovieDemuxer::ForSound(const std::string& path) {
    return std::unique_ptr<MovieDemuxer>(new MovieDemuxer(nullptr, path, 0, {}, true));
}

void MovieDemuxer::Seek(int stream, std::int64_t timestamp) {
    Internals& in = *in_;
    in.partial = true;
    if (int code = av_seek_frame(in.input.get(), stream, timestamp, AVSEEK_FLAG_BACKWARD);
        code < 0) {
        in.Fail(fmt::format("cannot seek: {}", ErrorText(code)));
    }
    in.CheckDamage();
}

MovieDemuxer::~MovieDemuxer() = default;

const SourceDescription& MovieDemuxer::source() const {
    return in_->source;
}

void MovieDemuxer::Internals::FindVideo() {
    AVFormatContext* format = input.get();
    const std::string& path = source.path;
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (index == AVERROR_STREAM_NOT_FOUND) {
        throw MovieError(fmt::format("{}: has no video stream", path));
    }
    if (index < 0 || codec == nullptr) {
        throw MovieError(
            fmt::format("{}: no decoder for its video stream ({})", path,
                        avcodec_get_name(format->streams[std::max(index, 0)]->codecpar->codec_id)));
    }
    video = format->streams[index];
    source.video.index = index;
    const int width = video->codecpar->width;
    const int height = video->codecpar->height;
    if (width <= 0 || height <= 0) {
        throw MovieError(fmt::format("{}: the video stream has no frame size", path));
    }
    if (std::uint64_t(width) * std::uint64_t(height) > max_pixels) {
        throw MovieRefused(fmt::format("{}: {}x{} frames are above the limit of {} pixels", path,
                                       width, height, max_pixels));
    }
}

void MovieDemuxer::Internals::Describe() {
    const AVFormatContext& format = *input;
    source.format_name = format.iformat->name;
    source.start_time = format.start_time;
    source.duration = format.duration;
    source.metadata = ToMetadata(format.metadata);
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream& stream = *format.streams[i];
        source.streams.push_back(
            {int(i), KindOf(stream.codecpar->codec_type), CodecParameters(*stream.codecpar),
             ToRational(stream.time_base), stream.start_time, stream.duration, stream.disposition,
             ToRational(stream.sample_aspect_ratio), ToRational(stream.avg_frame_rate),
             ToRational(stream.r_frame_rate), ToMetadata(stream.metadata),
             stream.discard == AVDISCARD_ALL,
             (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0});
    }
    for (unsigned i = 0; i < format.nb_chapters; ++i) {
        const AVChapter& chapter = *format.chapters[i];
        source.chapters.push_back({chapter.id, ToRational(chapter.time_base), chapter.start,
                                   chapter.end, ToMetadata(chapter.metadata)});
    }
    stream_ends.assign(format.nb_streams, kNoTimestamp);
    if (video != nullptr) DescribeVideo();
}

void MovieDemuxer::Internals::DescribeVideo() {
    SourceVideo& described = source.video;
    const AVCodecParameters& parameters = *video->codecpar;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(parameters.format));
    if (desc == nullptr) {
        throw MovieError(
            fmt::format("{}: the pixel format of the video stream is unknown", source.path));
    }
    described.width = parameters.width;
    described.height = parameters.height;
    described.type = SampleTypeOfPixels(*desc);
    described.has_alpha = (desc->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
    described.frame_rate =
        ToRational(video->avg_frame_rate.num > 0 ? video->avg_frame_rate : video->r_frame_rate);
    described.sample_aspect_ratio =
        ToRational(av_guess_sample_aspect_ratio(input.get(), video, nullptr));
    if (const std::vector<std::uint8_t> m =
            SideData(*video, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(std::int32_t));
        !m.empty()) {
        std::int32_t values[9];
        std::memcpy(values, m.data(), sizeof values);
        described.matrix = ReadDisplayMatrix(values);
    }
    described.mastering = SideData(*video, AV_PKT_DATA_MASTERING_DISPLAY_METADATA,
                                   sizeof(AVMasteringDisplayMetadata));
    described.light_level =
        SideData(*video, AV_PKT_DATA_CONTENT_LIGHT_LEVEL, sizeof(AVContentLightMetadata));
    described.dolby_vision = !SideData(*video, AV_PKT_DATA_DOVI_CONF, 1).empty();
    described.bit_rate = parameters.bit_rate;
    if (const std::vector<std::uint8_t> cpb =
            SideData(*video, AV_PKT_DATA_CPB_PROPERTIES, sizeof(AVCPBProperties));
        !cpb.empty()) {
        AVCPBProperties properties;
        std::memcpy(&properties, cpb.data(), sizeof properties);
        described.max_bit_rate = properties.max_bitrate;
        described.buffer_size = properties.buffer_size;
    }
    described.frame_count = video->nb_frames > 0 ? long(video->nb_frames) : -1;
    // FFmpeg does not count an animated PNG's or GIF's frames: their blocks do.
    if (described.frame_count < 0 && local_file && source.format_name == "apng") {
        described.frame_count = AnimatedPngFrames(source.path).value_or(-1);
    }
    if (described.frame_count < 0 && local_file && source.format_name == "gif") {
        described.frame_count = AnimatedGifFrames(source.path).value_or(-1);
    }
    described.from_images = source.format_name == "apng" || source.format_name == "gif";
    ChooseAlphaDecoder();
}

void MovieDemuxer::Internals::ChooseAlphaDecoder() {
    // FFmpeg's VP8 and VP9 decoders drop the alpha a stream tagged
    // alpha_mode=1 carries beside its frames; libvpx's give it, as yuva420p.
    SourceStream& stream = source.streams[std::size_t(source.video.index)];
    const std::string_view decoder =
        AlphaDecoderFor(avcodec_get_name(stream.parameters.get().codec_id));
    if (decoder.empty() || stream.Tag("alpha_mode") != "1" ||
        avcodec_find_decoder_by_name(std::string(decoder).c_str()) == nullptr) {
        return;
    }
    source.video.decoder = decoder;
    source.video.has_alpha = true;
    stream.parameters.edit().format = AV_PIX_FMT_YUVA420P;
}

bool MovieDemuxer::Read(MoviePacket& into) {
    Internals& in = *in_;
    AVPacket* packet = into.get();
    av_packet_unref(packet);
    const int code = av_read_frame(in.input.get(), packet);
    in.CheckDamage();
    if (code == kErrorEof) {
        in.CheckComplete();
        return false;
    }
    if (code < 0) in.Fail(fmt::format("cannot read: {}", ErrorText(code)));
    // The demuxer marks a packet it could read only in part: the file ends
    // (or is damaged) in the middle of it.
    if (packet->flags & AV_PKT_FLAG_CORRUPT) {
        in.Fail(
            fmt::format("the file is cut short or damaged (stream {} ends in the middle of a "
                        "packet)",
                        packet->stream_index));
    }
    in.NoteEnd(*packet);
    if (packet->stream_index == in.source.video.index) ++in.video_packets;
    return true;
}

void MovieDemuxer::Internals::NoteEnd(const AVPacket& packet) {
    // Only sound and video are held to the declared duration: subtitles,
    // data and attached pictures may end early or start late.
    if (!HeldToDuration(source.streams[std::size_t(packet.stream_index)])) return;
    const AVStream* stream = input->streams[packet.stream_index];
    const std::int64_t stamp = packet.pts != kNoTimestamp ? packet.pts : packet.dts;
    if (stamp == kNoTimestamp) return;
    const std::int64_t end =
        av_rescale_q(stamp + packet.duration, stream->time_base, kMicroseconds);
    if (packets_end == kNoTimestamp || end > packets_end) packets_end = end;
    std::int64_t& stream_end = stream_ends[std::size_t(packet.stream_index)];
    if (stream_end == kNoTimestamp || end > stream_end) stream_end = end;
}

void MovieDemuxer::Internals::CheckDamage() {
    for (const LoggedMessage& message : watch->Take()) {
        if (ReportsDamage(message.text)) {
            Fail(fmt::format("the file is cut short or damaged ({})", message.text));
        }
        NoteLibraryMessage(message.text);
    }
}

void MovieDemuxer::Internals::CheckComplete() const {
    const AVFormatContext& format = *input;
    if (format.pb && format.pb->error < 0) {
        Fail(fmt::format("cannot read: {}", ErrorText(format.pb->error)));
    }
    // QuickTime and MP4 list every sample in their header: fewer packets
    // means the media data stops early (a file cut at a packet boundary).
    const int listed = video != nullptr ? avformat_index_get_entries_count(video) : 0;
    if (ListsEverySample(format) && listed > video_packets && !partial) {
        Fail(fmt::format("the file is cut short: {} of the {} video packets it lists are there",
                         video_packets, listed));
    }
    if (format.duration_estimation_method == AVFMT_DURATION_FROM_STREAM) CheckDurations();
    CheckSomeVideo();
}

void MovieDemuxer::Internals::CheckSomeVideo() const {
    // A sound file (ForSound) has no video to hold.
    if (video != nullptr && video_packets == 0) {
        Fail("the file holds no whole frame of video (cut short?)");
    }
}

void MovieDemuxer::Internals::CheckDurations() const {
    // The container declares the streams' durations in its header: every
    // stream must reach its own end, give or take two frames (of 10 frames
    // a second when the rate is unknown). QuickTime and MP4 give each
    // stream's start and duration; Matroska only the whole file's duration,
    // which libavformat counts from 0, not from the start.
    const AVFormatContext& format = *input;
    const Rational rate =
        source.video.frame_rate.valid() ? source.video.frame_rate : Rational{10, 1};
    const std::int64_t slack = av_rescale_q(2, AVRational{rate.den, rate.num}, kMicroseconds);
    const auto seconds = [](std::int64_t microseconds) {
        return double(microseconds) / AV_TIME_BASE;
    };
    bool own_durations = false;
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream* stream = format.streams[i];
        if (!HeldToDuration(source.streams[i])) continue;
        if (stream->duration <= 0 || stream->start_time == kNoTimestamp) continue;
        own_durations = true;
        const std::int64_t declared =
            av_rescale_q(stream->start_time + stream->duration, stream->time_base, kMicroseconds);
        const std::int64_t reached = stream_ends[i];
        if (reached == kNoTimestamp || reached < declared - slack) {
            Fail(fmt::format(
                "the file is cut short: stream {} ends at {:.3f} s of the {:.3f} s "
                "it declares",
                i, reached == kNoTimestamp ? 0.0 : seconds(reached), seconds(declared)));
        }
    }
    if (own_durations || format.duration <= 0 || packets_end == kNoTimestamp) return;
    if (packets_end < format.duration - slack) {
        Fail(
            fmt::format("the file is cut short: its streams end at {:.3f} s of the {:.3f} s it "
                        "declares",
                        seconds(packets_end), seconds(format.duration)));
    }
}

VideoSpacing MovieDemuxer::MeasureSpacing() const {
    const Internals& in = *in_;
    std::vector<std::int64_t> stamps;
    const int listed = avformat_index_get_entries_count(in.video);
    if (ListsEverySample(*in.input) && listed > 0) {
        // QuickTime and MP4 list every frame: their decoding times are as
        // evenly spaced as their presentation times.
        for (int i = 0; i < listed; ++i) {
            stamps.push_back(avformat_index_get_entry(in.video, i)->timestamp);
        }
        return in.SpacingOf(std::move(stamps));
    }
    // The video's timestamps, from a second pass over the packets alone, for
    // a regular file (a pipe cannot be read twice). What it logs is dropped:
    // the file is checked, and its damage reported, as the first pass reads it.
    std::error_code error;
    if (!in.local_file || !std::filesystem::is_regular_file(in.source.path, error)) return {};
    AVFormatContext* opened = avformat_alloc_context();
    if (opened == nullptr) throw std::bad_alloc();
    LogWatch dropped(opened);
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int code = avformat_open_input(&opened, ("file:" + in.source.path).c_str(),
                                         in.input->iformat, &options);
    av_dict_free(&options);
    if (code < 0) return {};
    const InputPtr scan(opened);
    const PacketPtr read = NewPacket();
    // One clock for every frame: the presentation times where every packet
    // has one, else the decoding times (a program stream gives a
    // presentation time only to the first frame of each of its packets).
    std::vector<std::int64_t> decoding;
    bool every_pts = true, every_dts = true;
    while (av_read_frame(scan.get(), read.get()) >= 0) {
        if (read->stream_index == in.source.video.index) {
            every_pts = every_pts && read->pts != kNoTimestamp;
            every_dts = every_dts && read->dts != kNoTimestamp;
            if (read->pts != kNoTimestamp) stamps.push_back(read->pts);
            if (read->dts != kNoTimestamp) decoding.push_back(read->dts);
        }
        av_packet_unref(read.get());
    }
    if (every_pts) return in.SpacingOf(std::move(stamps));
    return every_dts ? in.SpacingOf(std::move(decoding)) : VideoSpacing{};
}

}  // namespace render
