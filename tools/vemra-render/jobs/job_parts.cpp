#include "tools/vemra-render/jobs/job_parts.h"

#include <OpenImageIO/imageio.h>
#include <fmt/format.h>
#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "tools/vemra-render/pixels/pixel_convert.h"
#include "tools/vemra-render/run/quiet_stderr.h"

namespace render {

namespace fs = std::filesystem;

namespace {

/// The note for samples clipped on their way into an integer world.
PendingNote ClipNote(const std::string& name, std::size_t clipped, const LayoutChoice& choice) {
    return {"clip", fmt::format("{}: {} sample(s) outside 0..1 clipped for the {} host's {}{}",
                                name, clipped, HostName(choice.host), DescribeLayout(choice.layout),
                                choice.host == HostKind::kAe ? " (--host prmr keeps them)" : "")};
}

/// A world of `layout` and size in `world`, kept when it already is one.
sim::World& EnsureWorld(std::optional<sim::World>& world, sim::Layout layout, int width,
                        int height) {
    if (!world || world->layout() != layout || world->width() != width ||
        world->height() != height) {
        world.reset();  // the old buffer goes before the new one is made
        world.emplace(layout, width, height);
    }
    return *world;
}

}  // namespace

void Notes::Once(const std::string& kind, const std::string& text) {
    if (quiet_ || !printed_.insert(kind).second) return;
    if (progress_ != nullptr) progress_->Clear();
    WriteMessage(fmt::format("vemra-render: note: {}\n", text));
}

void ImageFilesSlot::Commit(Notes& printer) {
    if (pending_output) pending_output->Commit();
    if (pending_compare) pending_compare->Commit();
    pending_output.reset();
    pending_compare.reset();
    for (const PendingNote& note : notes) printer.Once(note.kind, note.text);
    notes.clear();
}

void ImageFilesSlot::Drop() {
    pending_output.reset();
    pending_compare.reset();
    notes.clear();
}

sim::World& RenderSamples(EffectSession& session, int slot_index, FrameSlot& slot,
                          const Options& options, const sim::ParamValues& values,
                          const ConstSamples& samples, const std::string& name) {
    const LayoutChoice choice =
        ChooseLayout(samples.layout.type, options.host, options.depth, session.capabilities());
    sim::World& input = EnsureWorld(slot.input, choice.layout, samples.width, samples.height);
    sim::World& output = EnsureWorld(slot.output, choice.layout, samples.width, samples.height);
    const ConversionReport report = SamplesToWorld(samples, input);
    if (report.clipped != 0) slot.notes.push_back(ClipNote(name, report.clipped, choice));
    session.Render(slot_index, choice.host, input, output, values);
    return output;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) {
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    }
    std::error_code error;
    return fs::weakly_canonical(a, error) == fs::weakly_canonical(b, error);
}

bool Exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

std::uint64_t FrameFootprint(std::uint64_t pixels, std::size_t sample, sim::Layout layout,
                             std::size_t decoded_channels) {
    return pixels * (decoded_channels * sample + 2 * sim::BytesPerPixel(layout) + 2 * 4 * sample);
}

WorkPlan PrepareWork(const Options& options, EffectSession& session, long frames,
                     std::uint64_t bytes_per_frame) {
    const WorkPlan plan = PlanWork(
        options.threads, options.in_flight, frames, bytes_per_frame,
        options.memory_budget != 0 ? options.memory_budget : DefaultMemoryBudget(), kMaxInFlight);
    session.PrepareSlots(plan.in_flight, plan.iteration_threads);
    // The image library's own threads take the same share as the host's
    // iteration. OpenEXR's thread pool is one for the whole process: with
    // several frames in flight each frame compresses on its own thread (-1:
    // no pool), since a pool of one would take every frame's work in turn.
    OIIO::attribute("threads", plan.iteration_threads);
    OIIO::attribute("exr_threads", plan.in_flight > 1 ? -1 : plan.iteration_threads);
    return plan;
}

std::string Tally(long rendered, long skipped, long failed, long left) {
    std::string tally =
        fmt::format("{} rendered, {} skipped, {} failed", rendered, skipped, failed);
    if (left > 0) tally += fmt::format(", {} not rendered", left);
    return tally;
}

}  // namespace render
