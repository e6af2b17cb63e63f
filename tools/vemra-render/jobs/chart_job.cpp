// The chart job: with no input, the built-in test chart goes through the
// effect into -o, with its before/after sheet.
#include <fmt/format.h>

#include <filesystem>

#include "tools/vemra-render/io/frame_pattern.h"
#include "tools/vemra-render/io/image_files.h"
#include "tools/vemra-render/jobs/controls.h"
#include "tools/vemra-render/jobs/frame_work.h"
#include "tools/vemra-render/jobs/jobs.h"
#include "tools/vemra-render/jobs/outputs.h"
#include "tools/vemra-render/pixels/compare_sheet.h"
#include "tools/vemra-render/pixels/test_chart.h"

namespace render {

namespace {

/// The chart's type: as --depth asks, else float for formats that hold
/// floats (so values beyond 0..1 show), else 8-bit.
SampleType ChartType(const Options& options, const std::string& output) {
    if (options.depth) {
        return *options.depth == Depth::k8    ? SampleType::kUint8
               : *options.depth == Depth::k16 ? SampleType::kUint16
                                              : SampleType::kFloat;
    }
    const std::string extension = std::filesystem::path(output).extension().string();
    for (const char* float_format : {".exr", ".sxr", ".mxr", ".hdr", ".pfm"}) {
        if (extension == float_format) return SampleType::kFloat;
    }
    return SampleType::kUint8;
}

}  // namespace

void RunChart(const Options& options, EffectSession& session) {
    const ParamValues values = ValuesFromOptions(options.controls, session);
    const std::string& output = options.output;
    if (FramePattern::Parse(output)) {
        throw UsageError("the test chart is one image: give -o a file name, not a frame pattern");
    }
    const OutputNames names = OutputRule(output, true, options.compare_output, false).For(1);
    CheckPlan({{"", names}}, options);
    const SampleType type = ChartType(options, output);
    const auto [width, height] = options.chart_size.value_or(std::pair{kChartWidth, kChartHeight});
    if (std::uint64_t(width) * std::uint64_t(height) > options.max_pixels) {
        throw RefusedError(
            fmt::format("--chart-size {}x{} is above the limit of {} pixels (--max-pixels)", width,
                        height, options.max_pixels));
    }

    PrepareWork(options, session, 1, 0);
    Notes notes(options.quiet, nullptr);
    SweepStaleTemporaries({{"", names}}, notes);
    if (AllDefaults(session, values)) {
        notes.Once("defaults",
                   "every control is at its default, which leaves the picture as it is; "
                   "try --temperature 1 or --magenta -0.5");
    }
    const Image chart = MakeTestChart(width, height, type);
    Image after = Image::Blank(width, height, type, chart.has_alpha);
    std::vector<PendingNote> pending;
    RenderFrame(session, 0, options, values, SamplesOf(chart), SamplesOf(after), "test chart",
                pending);
    for (const PendingNote& note : pending) notes.Once(note.kind, note.text);
    WriteSettings settings;
    settings.compression = options.compression;
    settings.data_type = options.data_type;
    for (const std::string& note : WriteImage(names.output, after, settings)) {
        notes.Once("alpha", note);
    }
    WriteImage(names.compare, MakeCompareSheet(chart, after), settings);
    fmt::print("wrote {} (the test chart after the effect: {})\n", names.output,
               ControlSummary(session, values));
    fmt::print("wrote {} (before | after)\n", names.compare);
}

}  // namespace render
