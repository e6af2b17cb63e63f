#include "tools/vemra-render/jobs/movie_plan.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <utility>

#include "tools/vemra-render/io/movie_policy.h"
#include "tools/vemra-render/jobs/frame_work.h"

namespace render {

namespace {

/// The bytes a movie's codecs hold of their own at `threads` threads each
/// (0: FFmpeg's choice, the CPUs and one more): a frame for each thread, and
/// two more for references and reordering, in the decoder and the encoder,
/// of the frame's samples in four channels (as many as any codec's layout).
std::uint64_t CodecBytes(const SourceVideo& video, int threads) {
    const std::uint64_t per_codec = std::uint64_t(threads > 0 ? threads : AvailableCores() + 1) + 2;
    return 2 * per_codec * std::uint64_t(video.width) * std::uint64_t(video.height) * 4 *
           SampleBytes(video.type);
}

}  // namespace

std::string TurnUpright(const Options& options, SourceDescription& source, bool to_movie) {
    SourceVideo& video = source.video;
    const DisplayMatrix& matrix = video.matrix;
    if (!matrix.present) return {};
    // Only quarter turns and mirrors are kept or made losslessly: any other
    // angle is refused into every output, unless the frames stay as coded.
    if (!matrix.whole_turn && !options.no_autorotate) {
        throw RefusedError(fmt::format(
            "{}: its display matrix turns the frames by {:.0f} degrees, which is no quarter turn "
            "or mirror: give --no-autorotate to keep the frames as coded",
            source.path, matrix.rotation));
    }
    if (to_movie) {
        const ContainerPolicy* container = ContainerFor(options.output);
        if (container != nullptr && container->display_matrix) return {};
    }
    if (options.no_autorotate) {
        // Into a movie, the muxer notes the matrix it drops.
        return to_movie ? std::string()
                        : fmt::format(
                              "{}: its frames are written as coded; the display matrix "
                              "(rotation {:.0f} degrees) is dropped",
                              source.path, matrix.rotation);
    }
    if (matrix.upright.upright()) return {};
    video.turned = true;
    if (matrix.upright.transpose) std::swap(video.width, video.height);
    return fmt::format(
        "{}: its frames are turned upright as its display matrix says (rotation "
        "{:.0f} degrees), since {} keeps no display matrix (--no-autorotate keeps "
        "them as coded)",
        source.path, matrix.rotation, options.output);
}

Options WithCodecBudget(const Options& options, const SourceDescription& source,
                        std::string& note) {
    const SourceVideo& video = source.video;
    Options planned = options;
    const std::uint64_t budget =
        options.memory_budget != 0 ? options.memory_budget : DefaultMemoryBudget();
    const int asked = options.codec_threads > 0 ? options.codec_threads : AvailableCores() + 1;
    int threads = asked;
    while (threads > 1 && CodecBytes(video, threads) > budget / 2)
        threads = std::max(1, threads / 2);
    if (threads != asked) planned.codec_threads = threads;
    const std::uint64_t codecs = CodecBytes(video, planned.codec_threads);
    planned.memory_budget = budget > codecs ? budget - codecs : 1;
    const std::uint64_t frame =
        std::uint64_t(video.width) * std::uint64_t(video.height) * 4 * SampleBytes(video.type);
    if (codecs + frame > budget) {
        note = fmt::format(
            "{}: its codecs and one frame take about {} MiB, more than --memory's {} MiB: it is "
            "rendered one frame at a time with the fewest codec threads",
            source.path, (codecs + frame) >> 20, budget >> 20);
    }
    return planned;
}

WorkPlan PrepareMovieWork(const Options& options, EffectSession& session,
                          const SourceDescription& source, long frames) {
    const SourceVideo& video = source.video;
    const LayoutChoice choice =
        ChooseLayout(video.type, options.host, options.depth, session.capabilities());
    // Each frame in flight holds its samples, and the copied streams'
    // packets that wait for the muxer meanwhile.
    FrameFootprint footprint =
        DecodedFootprint(std::uint64_t(video.width) * std::uint64_t(video.height), video.type, 4);
    footprint.waiting_bytes = source.OtherStreamsBytesPerFrame();
    return PrepareWork(options, session, frames, FootprintBytes(footprint, choice));
}

}  // namespace render
