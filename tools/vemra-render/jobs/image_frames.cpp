#include "tools/vemra-render/jobs/image_frames.h"

#include <fmt/format.h>

#include <memory>
#include <mutex>

#include "tools/vemra-render/jobs/frame_work.h"
#include "tools/vemra-render/pixels/compare_sheet.h"
#include "tools/vemra-render/run/atomic_output.h"
#include "tools/vemra-render/run/interrupt.h"

namespace render {

namespace {

/// What one frame in flight keeps from frame to frame, so that a running
/// sequence allocates no frame-sized memory, and the outputs waiting to be
/// renamed into place in frame order.
struct ImageSlot {
    ImageFrame frame;
    LoadedImage loaded;
    Image after;
    std::vector<Image> further_after;  ///< the file's further parts, rendered
    std::vector<unsigned char> encoded;
    std::unique_ptr<AtomicFile> pending_output;
    std::unique_ptr<AtomicFile> pending_compare;

    /// Renames the waiting outputs into place, the sheet first (an output in
    /// place has its sheet), the frame counting as finished with its last
    /// rename.
    void Commit(const ImageFramesRun& run, long frames_finished) {
        if (pending_compare) pending_compare->Commit(pending_output ? -1 : frames_finished);
        if (pending_output) {
            if (run.before_rename) run.before_rename(frame, *pending_output);
            pending_output->Commit(frames_finished);
        }
        if (!pending_output && !pending_compare) SetFramesFinished(frames_finished);
        pending_output.reset();
        pending_compare.reset();
    }
    /// Drops the waiting outputs (their temporaries are removed).
    void Drop() {
        pending_output.reset();
        pending_compare.reset();
    }
    /// Frees the buffers kept from frame to frame, for the memory budget.
    void Release() {
        loaded = LoadedImage{};
        after = Image{};
        further_after = {};
        encoded = {};
    }
};

/// Renders the slot's frame and encodes its results.
void Work(const ImageFramesRun& run, const ImageFrameSource& source, int slot_index,
          ImageSlot& slot, std::vector<PendingNote>& notes) {
    const ImageFrame& frame = slot.frame;
    const SourceSamples read = source.read(frame, slot_index, slot.loaded);
    if (read.file != nullptr)
        notes.insert(notes.end(), read.file->notes.begin(), read.file->notes.end());
    const ConstSamples& before = read.samples;
    slot.after.Reshape(before.width, before.height, before.layout.type, read.has_alpha);
    RenderFrame(run.session, slot_index, run.options, run.values, before, SamplesOf(slot.after),
                frame.input, notes);
    // A multi-part file's further parts with colour are rendered as the first is.
    const std::size_t further = read.file != nullptr ? read.file->further.size() : 0;
    slot.further_after.resize(further);
    for (std::size_t p = 0; p < further; ++p) {
        const PartSamples& part = read.file->further[p];
        slot.further_after[p].Reshape(part.width, part.height, part.layout.type, part.has_alpha());
        RenderFrame(run.session, slot_index, run.options, run.values, part.samples(),
                    SamplesOf(slot.further_after[p]), frame.input, notes);
    }
    WriteSettings settings{read.file, run.options.compression, &slot.encoded, run.options.data_type,
                           read.type, slot.further_after};
    if (!frame.keep_output) {
        slot.pending_output = EncodeImage(frame.names.output, slot.after, settings, notes);
    }
    if (!frame.names.compare.empty()) {
        settings.image_only = true;
        slot.pending_compare = EncodeImage(
            frame.names.compare, MakeCompareSheet(ToImage(before), slot.after), settings, notes);
    }
}

}  // namespace

std::vector<PlannedOutput> PlanOf(const std::vector<ImageFrame>& frames) {
    std::vector<PlannedOutput> plan;
    plan.reserve(frames.size());
    for (const ImageFrame& frame : frames) plan.push_back({frame.input, frame.names});
    return plan;
}

std::vector<long> SequenceNumbers(const Options& options, const FramePattern& pattern) {
    std::vector<long> numbers =
        options.frames.empty() ? pattern.FindExisting() : ParseFrameRange(options.frames);
    if (numbers.empty()) {
        throw InputError(fmt::format("{}: no frames found; give --frames", pattern.text()));
    }
    return numbers;
}

std::vector<long> FileFrameNumbers(const Options& options, const std::string& input, int count) {
    std::vector<long> numbers;
    if (options.frames.empty()) {
        for (long number = 1; number <= count; ++number) numbers.push_back(number);
    } else {
        numbers = ParseFrameRange(options.frames);
    }
    for (long number : numbers) {
        if (number < 1 || number > count) {
            throw UsageError(fmt::format("--frames {}: {} holds frame{} 1{}", options.frames, input,
                                         count > 1 ? "s" : "",
                                         count > 1 ? fmt::format(" to {}", count) : ""));
        }
    }
    return numbers;
}

void RequireOneFrame(const Options& options, const std::string& input, const std::string& count,
                     std::size_t chosen) {
    if (options.start_number) {
        throw UsageError("--start-number numbers the files of an output frame pattern");
    }
    if (chosen != 1) {
        throw UsageError(
            fmt::format("{} holds {} frames and {} is one file: give -o a frame pattern (e.g. "
                        "out.####.png) to render every frame, or --frames N to pick one",
                        input, count, options.output));
    }
}

ImageFramesResult RenderImageFrames(const ImageFramesRun& run, const ImageFrameSource& source) {
    std::vector<ImageSlot> slots(std::size_t(run.plan.in_flight));
    ImageFramesResult result;
    std::mutex taken_mutex;  // taking appends, a failure report reads
    long finished = 0;

    FrameJob job;
    job.take = [&](long index, int slot_index) {
        ImageSlot& slot = slots[std::size_t(slot_index)];
        slot.frame = ImageFrame{};
        if (!source.take(index, slot_index, slot.frame)) return false;
        const std::lock_guard lock(taken_mutex);
        result.taken.push_back(slot.frame);
        return true;
    };
    job.work = [&](long, int slot_index, std::vector<PendingNote>& notes) {
        Work(run, source, slot_index, slots[std::size_t(slot_index)], notes);
    };
    job.finish = [&](long, int slot_index) {
        slots[std::size_t(slot_index)].Commit(run, ++finished);
    };
    job.discard = [&](long, int slot_index) { slots[std::size_t(slot_index)].Drop(); };
    if (source.weigh) {
        job.weigh = [&](long, int slot_index) {
            return source.weigh(slots[std::size_t(slot_index)].frame);
        };
        job.release = [&](int slot_index) {
            slots[std::size_t(slot_index)].Release();
            run.session.ReleaseWorlds(slot_index);
        };
    }
    if (run.failed) {
        job.failed = [&](long index, const std::exception_ptr& error) {
            const std::lock_guard lock(taken_mutex);
            run.failed(result.taken[std::size_t(index)], error);
        };
    }
    result.frames = RunFrameJob(job, {run.plan.in_flight, run.notes, run.progress, run.on_failure,
                                      MemoryBudget(run.options)});
    return result;
}

}  // namespace render
