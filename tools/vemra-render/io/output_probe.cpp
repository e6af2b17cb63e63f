#include "tools/vemra-render/io/output_probe.h"

#include <OpenImageIO/imageio.h>

#include <cstdint>
#include <memory>
#include <string_view>

#include "tools/vemra-render/io/image_files.h"
#include "tools/vemra-render/io/image_readers.h"
#include "tools/vemra-render/io/movie_demuxer.h"
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
        CheckBeforeOpening(path, kDefaultMaxPixels);
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
    try {
        // Opened as any input is, by the movie demuxer: what FFmpeg says of
        // a damaged file is the answer, not a note.
        const MovieDemuxer movie(path, ~std::uint64_t(0));
        return movie.source().streams.size() >= streams;
    } catch (const MovieError&) {
        return false;
    }
}

bool ImageFormatStreams(const std::string& path) {
    const std::unique_ptr<OIIO::ImageOutput> writer = WriterFor(path);
    return writer && writer->supports("ioproxy");
}

}  // namespace render
