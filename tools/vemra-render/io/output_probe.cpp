#include "tools/vemra-render/io/output_probe.h"

#include <OpenImageIO/imageio.h>

#include <memory>
#include <string_view>

#include "tools/vemra-render/io/dpx_header.h"
#include "tools/vemra-render/io/ffmpeg_common.h"
#include "tools/vemra-render/io/ffmpeg_log.h"
#include "tools/vemra-render/io/image_files.h"
#include "tools/vemra-render/io/movie_formats.h"
#include "tools/vemra-render/run/quiet_stderr.h"

namespace render {

namespace {

/// The writer the image library has for `path`'s name; null for none.
std::unique_ptr<OIIO::ImageOutput> WriterFor(const std::string& path) {
    std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(path);
    if (!out) OIIO::geterror();  // takes the library's pending message
    return out;
}

}  // namespace

bool ImageHeaderReads(const std::string& path) {
    const std::unique_ptr<OIIO::ImageOutput> writer = WriterFor(path);
    if (!writer) return false;
    try {
        CheckDpxFile(path);
    } catch (const InputError&) {
        return false;
    }
    const QuietStderr quiet;  // some format libraries print their own errors
    // The reader of the writer's format alone, by its name: no other
    // reader is tried on the file, as a reader found by content would be.
    std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::create(writer->format_name());
    OIIO::ImageSpec header;
    const bool opened = in && in->open(path, header) && header.width > 0 && header.height > 0;
    if (in) in->geterror();
    OIIO::geterror();
    return opened;
}

bool MovieOpens(const std::string& path, std::size_t streams) {
    InstallFfmpegLog();
    const std::string demuxers = MovieDemuxers();
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", demuxers.c_str(), 0);
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* opened = avformat_alloc_context();
    if (opened == nullptr) {
        av_dict_free(&options);
        return false;
    }
    // What FFmpeg says of a damaged file is the probe's answer, not a note.
    const LogWatch watch(opened);
    const int code = avformat_open_input(&opened, ("file:" + path).c_str(), nullptr, &options);
    av_dict_free(&options);
    if (code < 0) return false;  // avformat_open_input freed the context
    const movie::InputPtr input(opened);
    if (avformat_find_stream_info(opened, nullptr) < 0 || opened->nb_streams < streams) {
        return false;
    }
    for (unsigned i = 0; i < opened->nb_streams; ++i) {
        const AVCodecParameters* codec = opened->streams[i]->codecpar;
        if (codec->codec_type == AVMEDIA_TYPE_VIDEO && codec->width > 0 && codec->height > 0) {
            return true;
        }
    }
    return false;
}

bool ImageFormatStreams(const std::string& path) {
    const std::unique_ptr<OIIO::ImageOutput> writer = WriterFor(path);
    return writer && writer->supports("ioproxy");
}

}  // namespace render
