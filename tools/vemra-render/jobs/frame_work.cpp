#include "tools/vemra-render/jobs/frame_work.h"

#include <fmt/format.h>

#include "tools/vemra-render/io/image_files.h"
#include "tools/vemra-render/run/library_log.h"

namespace render {

std::uint64_t FrameFootprint(std::uint64_t pixels, SampleType type, const LayoutChoice& choice,
                             std::size_t decoded_channels) {
    const std::size_t sample = SampleBytes(type);
    return pixels * (decoded_channels * sample + 2 * WorldBytesPerPixel(choice) + 2 * 4 * sample);
}

WorkPlan PrepareWork(const Options& options, EffectSession& session, long frames,
                     std::uint64_t bytes_per_frame) {
    const WorkPlan plan = PlanWork(
        options.threads, options.in_flight, frames, bytes_per_frame,
        options.memory_budget != 0 ? options.memory_budget : DefaultMemoryBudget(), kMaxInFlight);
    session.PrepareSlots(plan.in_flight, plan.iteration_threads);
    // The image library's codecs take the same share as the host's iteration.
    ShareImageLibraryThreads(plan.iteration_threads, plan.in_flight);
    return plan;
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
