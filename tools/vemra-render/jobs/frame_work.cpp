#include "tools/vemra-render/jobs/frame_work.h"

#include <fmt/format.h>

#include "tools/vemra-render/io/image_files.h"
#include "tools/vemra-render/run/library_log.h"

namespace render {

FrameFootprint DecodedFootprint(std::uint64_t pixels, SampleType type, std::size_t channels) {
    const std::uint64_t sample = SampleBytes(type);
    return {pixels, pixels * channels * sample, pixels * 2 * 4 * sample, 0};
}

std::uint64_t FootprintBytes(const FrameFootprint& footprint, const LayoutChoice& choice) {
    return footprint.source_bytes + footprint.pixels * 2 * WorldBytesPerPixel(choice) +
           footprint.result_bytes + footprint.waiting_bytes;
}

std::uint64_t MemoryBudget(const Options& options) {
    return options.memory_budget != 0 ? options.memory_budget : DefaultMemoryBudget();
}

WorkPlan PrepareWork(const Options& options, EffectSession& session, long frames,
                     std::uint64_t bytes_per_frame) {
    const WorkPlan plan = PlanWork(options.threads, options.in_flight, frames, bytes_per_frame,
                                   MemoryBudget(options), kMaxInFlight);
    session.PrepareSlots(plan.in_flight, plan.iteration_threads);
    // The image library's codecs take the same share as the host's iteration.
    ShareImageLibraryThreads(plan.iteration_threads, plan.in_flight);
    return plan;
}

FramesResult RunFrameJob(const FrameJob& job, const FrameRun& run) {
    std::vector<std::vector<PendingNote>> notes(std::size_t(run.in_flight));
    FrameStages stages;
    stages.take = job.take;
    stages.work = [&](long index, int slot) { job.work(index, slot, notes[std::size_t(slot)]); };
    stages.finish = [&](long index, int slot) {
        job.finish(index, slot);
        std::vector<PendingNote>& pending = notes[std::size_t(slot)];
        for (const PendingNote& note : pending) run.notes.Once(note.kind, note.text);
        pending.clear();
        PrintLibraryNotes(run.notes);
        run.progress.FrameDone();
    };
    stages.discard = [&](long index, int slot) {
        if (job.discard) job.discard(index, slot);
        notes[std::size_t(slot)].clear();
    };
    stages.failed = job.failed;
    const FrameBudget budget{job.weigh ? run.memory_budget : 0, job.weigh, job.release};
    return RunFrames(stages, run.in_flight, -1, nullptr, run.on_failure, budget);
}

void RenderFrame(EffectSession& session, int slot, const Options& options,
                 const ParamValues& values, const ConstSamples& before, const Samples& after,
                 const std::string& name, std::vector<PendingNote>& notes) {
    const RenderReport report =
        session.RenderSamples(slot, before, after, values, options.host, options.depth);
    if (report.clipped == 0) return;
    const LayoutChoice& choice = report.choice;
    notes.push_back(
        {"clip", fmt::format("{}: {} sample(s) outside 0..1 clipped for the {} host's {}{}", name,
                             report.clipped, HostName(choice.host), DescribeLayout(choice.layout),
                             choice.host == HostKind::kAe ? " (--host prmr keeps them)" : "")});
}

void PrintLibraryNotes(Notes& notes) {
    for (const std::string& text : TakeLibraryNotes()) notes.Once("library: " + text, text);
}

std::string Tally(long rendered, long skipped, long failed, long left) {
    std::string tally =
        fmt::format("{} rendered, {} skipped, {} failed", rendered, skipped, failed);
    if (left > 0) tally += fmt::format(", {} not rendered", left);
    return tally;
}

}  // namespace render
