#include "tools/vemra-render/io/movie_demuxer_open.h"

#include <fmt/format.h>

extern "C" {
#include <libavutil/avstring.h>
}

#include <new>

#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/io/movie_demuxer.h"
#include "tools/vemra-render/io/movie_formats.h"

namespace render {

using namespace movie;

namespace {

/// The format FFmpeg's probe finds for the local file `path`, whatever it
/// is; null when it finds none.
const AVInputFormat* ProbedFormat(const std::string& path) {
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVIOContext* io = nullptr;
    const int code = avio_open2(&io, ("file:" + path).c_str(), AVIO_FLAG_READ, nullptr, &options);
    av_dict_free(&options);
    if (code < 0) return nullptr;
    const AVInputFormat* format = nullptr;
    const int score = av_probe_input_buffer2(io, &format, path.c_str(), nullptr, 0, 0);
    avio_closep(&io);
    return score >= 0 ? format : nullptr;
}

/// Opens the demuxer over `io` or, when it is null, the local file `name`:
/// only with a demuxer of movie_formats.h, only local files for anything it
/// opens, and within the probe's bounds; `watch` takes what it logs. For
/// a `sound` file, the sound formats' demuxers are taken too.
InputPtr OpenInput(const std::string& name, AVIOContext* io, const MovieProbe& probe,
                   std::unique_ptr<LogWatch>& watch, bool sound) {
    const std::string demuxers = sound ? SoundDemuxers() : MovieDemuxers();
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", demuxers.c_str(), 0);
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    if (probe.probe_bytes > 0) av_dict_set_int(&options, "probesize", probe.probe_bytes, 0);
    if (probe.analyze_microseconds > 0) {
        av_dict_set_int(&options, "analyzeduration", probe.analyze_microseconds, 0);
    }
    AVFormatContext* opened = avformat_alloc_context();
    if (opened == nullptr) throw std::bad_alloc();
    // What FFmpeg logs against the demuxer, from before it opens the file.
    watch = std::make_unique<LogWatch>(opened);
    opened->pb = io;
    // "file:" before the name: a name such as "http:x.mp4" is a file too.
    const std::string url = io != nullptr ? name : "file:" + name;
    const int code = avformat_open_input(&opened, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (code >= 0) return InputPtr(opened);
    const AVInputFormat* format = io != nullptr ? nullptr : ProbedFormat(name);
    if (format != nullptr && av_match_list(format->name, demuxers.c_str(), ',') <= 0) {
        throw MovieRefused(fmt::format(
            "{}: not a {} the tool reads: FFmpeg takes it for {} ({}); it reads {}{}, and GIF and "
            "APNG",
            name, sound ? "sound file" : "movie container",
            format->long_name != nullptr ? format->long_name : format->name, format->name,
            sound ? SoundFileNames() + ", " : "", MovieContainerNames()));
    }
    throw MovieError(fmt::format("{}: cannot open as a movie: {}", name, ErrorText(code)));
}

/// What a local file's own structure says before FFmpeg opens it: a frame
/// size above `max_pixels` (refused), an animated image cut short. A pipe is
/// not read ahead (movie_formats.h).
void CheckBeforeOpening(const std::string& name, std::uint64_t max_pixels) {
    if (const auto size = DeclaredFrameSize(name);
        size && std::uint64_t(size->first) * std::uint64_t(size->second) > max_pixels) {
        throw MovieRefused(fmt::format("{}: {}x{} frames are above the limit of {} pixels", name,
                                       size->first, size->second, max_pixels));
    }
    if (const std::string cut = AnimationCut(name); !cut.empty()) {
        throw DemuxError(name, "the file is cut short: " + cut);
    }
}

}  // namespace

InputPtr OpenMovieInput(const std::string& name, AVIOContext* io, const MovieProbe& probe,
                        std::uint64_t max_pixels, std::unique_ptr<LogWatch>& watch, bool sound) {
    if (io == nullptr) CheckBeforeOpening(name, max_pixels);
    return OpenInput(name, io, probe, watch, sound);
}

std::optional<ProbedContainer> ProbeContainer(const std::string& path) {
    const AVInputFormat* format = ProbedFormat(path);
    if (format == nullptr) return std::nullopt;
    const bool movie = av_match_list(format->name, MovieContainerDemuxers().c_str(), ',') > 0;
    return ProbedContainer{format->name, format->long_name != nullptr ? format->long_name : "",
                           movie,
                           !movie && av_match_list(format->name, MovieDemuxers().c_str(), ',') > 0};
}

}  // namespace render
