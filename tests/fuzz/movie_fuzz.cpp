// Fuzzes the movie demuxer and decoder stages end to end, FFmpeg's demuxers
// and decoders included, fed as the movie job feeds them: each input is a
// file held in memory, opened through the demuxer's AVIOContext constructor
// (reads and seeks over the buffer), with the demuxer's own list of
// containers, a small probe, one decoder thread, and at most kMostFrames
// frames of at most kMaxPixels pixels read and converted.
// Debian's FFmpeg is not instrumented: the sanitizers and the coverage see
// our code, and FFmpeg's faults only as they reach it.
//
// Invariants: no sanitizer report, and every input is either read (to its
// end or to kMostFrames frames, each of the described size) or refused with
// the stages' own error, MovieError; anything else thrown ends the run.
extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <cstdint>
#include <cstring>

#include "tests/fuzz/fuzz_input.h"
#include "tools/vemra-render/io/movie_decoder.h"
#include "tools/vemra-render/io/movie_demuxer.h"
#include "tools/vemra-render/jobs/movie_feed.h"

namespace {

constexpr int kMostFrames = 64;
constexpr std::uint64_t kMaxPixels = 1u << 20;  // --max-pixels for each input
constexpr int kIoBufferBytes = 4096;

/// The input as a file: where the next read starts.
struct MemoryFile {
    const std::uint8_t* data;
    std::int64_t size;
    std::int64_t at = 0;
};

int Read(void* opaque, std::uint8_t* into, int wanted) {
    MemoryFile& file = *static_cast<MemoryFile*>(opaque);
    const std::int64_t left = file.size - file.at;
    if (left <= 0) return AVERROR_EOF;
    const int count = int(std::min<std::int64_t>(wanted, left));
    std::memcpy(into, file.data + file.at, std::size_t(count));
    file.at += count;
    return count;
}

/// Seeks as a file does; AVSEEK_SIZE asks for the size.
std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
    MemoryFile& file = *static_cast<MemoryFile*>(opaque);
    if (whence & AVSEEK_SIZE) return file.size;
    std::int64_t to = offset;
    switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET:
            break;
        case SEEK_CUR:
            to += file.at;
            break;
        case SEEK_END:
            to += file.size;
            break;
        default:
            return AVERROR(EINVAL);
    }
    if (to < 0 || to > file.size) return AVERROR(EINVAL);
    file.at = to;
    return to;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    // FFmpeg's allocations fail cleanly above this, as within a real memory
    // limit, rather than as the fuzzer's out-of-memory report.
    av_max_alloc(256u << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemoryFile file{data, std::int64_t(size)};
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
    AVIOContext* io = avio_alloc_context(buffer, kIoBufferBytes, 0, &file, Read, nullptr, Seek);
    vemra::fuzz::Require(io != nullptr, "an AVIOContext is made");
    try {
        render::MovieDemuxer demuxer(io, "input", kMaxPixels,
                                     {.probe_bytes = 32 * 1024, .analyze_microseconds = 500'000});
        const render::SourceVideo& video = demuxer.source().video;
        vemra::fuzz::Require(std::uint64_t(video.width) * std::uint64_t(video.height) <= kMaxPixels,
                             "the frame size is within --max-pixels");
        render::MovieDecoder decoder(demuxer.source(), 1);
        render::MovieFeed feed(demuxer, decoder);
        render::DecodedFrame decoded;
        render::MovieFrame frame;
        for (long number = 1; number <= kMostFrames && feed.Next(decoded); ++number) {
            decoder.Convert(decoded, frame);
            vemra::fuzz::Require(frame.number == number, "frames are numbered from 1 in order");
            vemra::fuzz::Require(
                frame.image.width == video.width && frame.image.height == video.height,
                "every frame has the described size");
        }
    } catch (const render::MovieError&) {
    }
    av_freep(&io->buffer);  // FFmpeg may have replaced the buffer given
    avio_context_free(&io);
    return 0;
}
