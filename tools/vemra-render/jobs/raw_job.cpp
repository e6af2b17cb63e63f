// The raw job (--raw WxH): frames of --pix-fmt from standard input through
// the effect to standard output, as ffmpeg's rawvideo muxer writes and reads
// them, several frames in flight and written in order.
#include <fmt/format.h>
#include <unistd.h>

#include <exception>

#include "tools/vemra-render/io/raw_frames.h"
#include "tools/vemra-render/jobs/controls.h"
#include "tools/vemra-render/jobs/frame_work.h"
#include "tools/vemra-render/jobs/jobs.h"
#include "tools/vemra-render/run/frame_pipeline.h"
#include "tools/vemra-render/run/interrupt.h"

namespace render {

namespace {

/// A raw frame that ended early, reported once the frames before it are out.
class TruncatedFrame : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// Writing to standard output failed.
class PipeWriteError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// Refuses, before the first frame is read, a frame size above --max-pixels,
/// a terminal for the output, and a layout the effect does not render.
LayoutChoice CheckRawRequest(const Options& options, const EffectSession& session,
                             const RawFormat& format) {
    const auto [width, height] = *options.raw_size;
    if (std::uint64_t(width) * std::uint64_t(height) > options.max_pixels) {
        throw RefusedError(fmt::format("--raw {}x{} is above the limit of {} pixels (--max-pixels)",
                                       width, height, options.max_pixels));
    }
    if (::isatty(STDOUT_FILENO) != 0) {
        throw RefusedError(
            "standard output is a terminal; pipe the raw video into ffmpeg or a file");
    }
    return ChooseLayout(format.type, options.host, options.depth, session.capabilities());
}

/// The error of the run that `result` describes.
[[noreturn]] void ThrowRawFailure(const FramesResult& result) {
    try {
        std::rethrow_exception(result.error);
    } catch (const TruncatedFrame& e) {
        throw RawError(fmt::format("{}; {} frame(s) written", e.what(), result.finished));
    } catch (const PipeWriteError& e) {
        throw RawError(
            fmt::format("standard output: {} after {} frame(s)", e.what(), result.finished));
    }
}

}  // namespace

void RunRaw(const Options& options, EffectSession& session) {
    const ParamValues values = ValuesFromOptions(options.controls, session);
    const RawFormat& format = FindRawFormat(options.pix_fmt.value_or(kDefaultRawPixFmt));
    // Plain names, not a structured binding: the frame's lambdas use them.
    const int width = options.raw_size->first;
    const int height = options.raw_size->second;
    const LayoutChoice choice = CheckRawRequest(options, session, format);

    const std::size_t frame_bytes = FrameBytes(format, width, height);
    const SampleLayout layout = FrameLayout(format, width, height);
    const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
    const WorkPlan plan =
        PrepareWork(options, session, -1, FootprintBytes({pixels, frame_bytes, 0, 0}, choice));
    // Each frame in flight: its bytes, which the rendered frame replaces.
    std::vector<std::vector<std::byte>> frames(std::size_t(plan.in_flight));
    Progress progress(0, !options.quiet);
    Notes notes(options.quiet, &progress);

    FrameJob job;
    job.take = [&](long index, int slot) {
        std::vector<std::byte>& frame = frames[std::size_t(slot)];
        frame.resize(frame_bytes);
        const std::size_t got = ReadFull(STDIN_FILENO, frame);
        if (got == 0) return false;
        if (got < frame_bytes) {
            throw TruncatedFrame(fmt::format(
                "standard input: frame {} is truncated, {} of {} bytes (are --raw {}x{} and "
                "--pix-fmt {} right?)",
                index + 1, got, frame_bytes, width, height, format.name));
        }
        return true;
    };
    job.work = [&](long, int slot, std::vector<PendingNote>& frame_notes) {
        const Samples samples{frames[std::size_t(slot)].data(), width, height, layout};
        RenderFrame(session, slot, options, values, samples, samples, "standard input",
                    frame_notes);
    };
    job.finish = [&](long index, int slot) {
        try {
            WriteFull(STDOUT_FILENO, frames[std::size_t(slot)]);
        } catch (const RawError& e) {
            throw PipeWriteError(e.what());
        }
        SetFramesFinished(index + 1);
    };

    const FramesResult result = RunFrameJob(job, {plan.in_flight, notes, progress});
    if (!result.error) return;
    progress.Clear();
    ThrowRawFailure(result);
}

}  // namespace render
