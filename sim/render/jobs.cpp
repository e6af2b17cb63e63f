#include "sim/render/jobs.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "sim/render/atomic_output.h"
#include "sim/render/compare_sheet.h"
#include "sim/render/frame_pattern.h"
#include "sim/render/image_io.h"
#include "sim/render/interrupt.h"
#include "sim/render/layout_choice.h"
#include "sim/render/pixel_convert.h"
#include "sim/render/progress.h"
#include "sim/render/raw_pipe.h"
#include "sim/render/test_chart.h"

namespace render {

namespace fs = std::filesystem;

namespace {

/// Notes on standard error, each kind once per run, kept off the progress line.
class Notes {
  public:
    Notes(bool quiet, Progress* progress) : quiet_(quiet), progress_(progress) {}
    void Once(const std::string& kind, const std::string& text) {
        if (quiet_ || !printed_.insert(kind).second) return;
        if (progress_ != nullptr) progress_->Clear();
        fmt::print(stderr, "vemra-render: note: {}\n", text);
    }

  private:
    bool quiet_;
    Progress* progress_;
    std::set<std::string> printed_;
};

/// One image to render: where it comes from and where its results go.
struct Frame {
    std::string label;  ///< "frame 17", empty for a single image
    std::string input;  ///< empty for the test chart
    std::string output;
    std::string compare;  ///< empty: no sheet
};

/// `before` through the effect, in the host and layout chosen for its type.
Image RenderImage(EffectSession& session, const Options& options, const sim::ParamValues& values,
                  const Image& before, const std::string& name, Notes& notes) {
    const LayoutChoice choice =
        ChooseLayout(before.type, options.host, options.depth, session.capabilities());
    ConversionReport report;
    sim::World input = ImageToWorld(before, choice.layout, &report);
    if (report.clipped != 0) {
        notes.Once("clip",
                   fmt::format("{}: {} sample(s) outside 0..1 clipped for the {} host's {}{}", name,
                               report.clipped, HostName(choice.host), DescribeLayout(choice.layout),
                               choice.host == HostKind::kAe ? " (--host prmr keeps them)" : ""));
    }
    sim::World output = session.Render(choice.host, input, values);
    return WorldToImage(output, before.type, before.has_alpha);
}

/// Writes the result and, when asked, the sheet; notes what the format dropped.
void WriteResults(const Frame& frame, const Image& before, const Image& after,
                  const WriteSettings& settings, Notes& notes) {
    for (const std::string& note : WriteImage(frame.output, after, settings))
        notes.Once("alpha", note);
    if (!frame.compare.empty()) {
        WriteImage(frame.compare, MakeCompareSheet(before, after), settings);
    }
}

/// True when `a` and `b` name one file: the same inode if both exist, else
/// the same path once made absolute and normalised.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) {
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    }
    std::error_code error;
    return fs::weakly_canonical(a, error) == fs::weakly_canonical(b, error);
}

/// A key that is equal for two names of one file.
std::string FileKey(const std::string& path) {
    struct stat s {};
    if (::stat(path.c_str(), &s) == 0) return fmt::format("inode {}:{}", s.st_dev, s.st_ino);
    std::error_code error;
    return "path " + fs::weakly_canonical(path, error).string();
}

/// Refuses, before anything is rendered, outputs whose folder is missing,
/// two results going to one file, and a result replacing an input (unless
/// --overwrite-input; a sheet never replaces an input).
void CheckPlan(const std::vector<Frame>& frames, bool overwrite_input) {
    std::map<std::string, std::string> inputs;  // key -> name
    for (const Frame& frame : frames) {
        if (!frame.input.empty()) inputs.emplace(FileKey(frame.input), frame.input);
    }
    std::map<std::string, std::string> outputs;
    for (const Frame& frame : frames) {
        for (const std::string* path : {&frame.output, &frame.compare}) {
            if (path->empty()) continue;
            CheckOutputPath(*path);
            CheckOutputFormat(*path);
            const std::string key = FileKey(*path);
            if (const auto in = inputs.find(key); in != inputs.end()) {
                const bool allowed =
                    overwrite_input && path == &frame.output && SameFile(frame.input, *path);
                if (!allowed) {
                    throw OutputError(
                        fmt::format("{}: refusing to write over the input {}{}", *path, in->second,
                                    path == &frame.output ? " (--overwrite-input allows it)" : ""));
                }
            }
            if (const auto [at, added] = outputs.emplace(key, *path); !added) {
                throw OutputError(
                    fmt::format("{}: two results would be written to this file", *path));
            }
        }
    }
}

std::string ComparePathFor(const Options& options, const std::string& output) {
    if (!options.compare) return {};
    if (!options.compare_output.empty()) return options.compare_output;
    return InsertBeforeExtension(output, "-compare");
}

/// A pattern or throws UsageError saying what `what` must be.
FramePattern RequirePattern(const std::string& text, const char* what) {
    std::optional<FramePattern> pattern = FramePattern::Parse(text);
    if (!pattern) {
        throw UsageError(
            fmt::format("{} \"{}\" must be a frame pattern too (e.g. out.####.exr)", what, text));
    }
    return *pattern;
}

bool IsFolder(const std::string& path) {
    std::error_code error;
    return (!path.empty() && path.back() == '/') || fs::is_directory(path, error);
}

/// The frames of a file job: one file, several files, or a pattern.
std::vector<Frame> PlanFrames(const Options& options) {
    if (options.output.empty()) throw UsageError("no output given: -o FILE");
    std::vector<Frame> frames;

    std::optional<FramePattern> in_pattern;
    for (const std::string& input : options.inputs) {
        std::optional<FramePattern> pattern = FramePattern::Parse(input);
        if (pattern && options.inputs.size() > 1) {
            throw UsageError(
                fmt::format("\"{}\": give one frame pattern, or several files", input));
        }
        in_pattern = pattern;
    }

    if (in_pattern) {
        const FramePattern out = RequirePattern(options.output, "the output");
        std::optional<FramePattern> sheet;
        if (options.compare) {
            sheet = options.compare_output.empty()
                        ? out.WithStemSuffix("-compare")
                        : RequirePattern(options.compare_output, "the compare sheet");
        }
        std::vector<long> numbers =
            options.frames.empty() ? in_pattern->FindExisting() : ParseFrameRange(options.frames);
        if (numbers.empty()) {
            throw InputError(fmt::format("{}: no frames found; give --frames", in_pattern->text()));
        }
        for (long number : numbers) {
            frames.push_back({fmt::format("frame {}", number), in_pattern->Format(number),
                              out.Format(number), sheet ? sheet->Format(number) : std::string()});
        }
        return frames;
    }

    const std::optional<FramePattern> out_pattern = FramePattern::Parse(options.output);
    std::optional<FramePattern> sheet_pattern;
    if (out_pattern && options.compare) {
        sheet_pattern = options.compare_output.empty()
                            ? out_pattern->WithStemSuffix("-compare")
                            : RequirePattern(options.compare_output, "the compare sheet");
    }
    const bool folder = !out_pattern && IsFolder(options.output);
    if (options.inputs.size() > 1 && !out_pattern && !folder) {
        throw UsageError("several inputs need -o to be a folder or a frame pattern");
    }
    if (folder && options.compare && !options.compare_output.empty()) {
        throw UsageError("--compare-output names one file; with -o a folder, use --compare alone");
    }
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        const std::string& input = options.inputs[i];
        Frame frame;
        frame.label = options.inputs.size() > 1 ? fmt::format("file {} ({})", i + 1, input) : "";
        frame.input = input;
        if (out_pattern) {
            frame.output = out_pattern->Format(long(i) + 1);
            if (sheet_pattern) frame.compare = sheet_pattern->Format(long(i) + 1);
        } else {
            frame.output = folder ? (fs::path(options.output) / fs::path(input).filename()).string()
                                  : options.output;
            frame.compare = ComparePathFor(options, frame.output);
        }
        frames.push_back(frame);
    }
    return frames;
}

std::string ControlSummary(const EffectSession& session, const sim::ParamValues& values) {
    const std::vector<ControlInfo>& c = session.controls();
    return fmt::format(
        "{} {}, {} {}, {} {}, {} {}", c[0].name, FormatValue(c[0], values.temperature), c[1].name,
        FormatValue(c[1], values.magenta), c[2].name, FormatValue(c[2], values.opacity), c[3].name,
        FormatValue(c[3], values.clamp ? 1.0 : 0.0));
}

}  // namespace

sim::ParamValues ControlValues(const Options& options, const EffectSession& session) {
    sim::ParamValues values = session.Defaults();
    if (options.temperature) values.temperature = *options.temperature;
    if (options.magenta) values.magenta = *options.magenta;
    if (options.opacity) values.opacity = *options.opacity;
    if (options.clamp) values.clamp = *options.clamp;
    session.CheckValues(values);
    return values;
}

void RunChart(const Options& options, EffectSession& session) {
    const sim::ParamValues values = ControlValues(options, session);
    Frame frame;
    frame.output = options.output.empty() ? "vemra-chart.png" : options.output;
    if (FramePattern::Parse(frame.output)) {
        throw UsageError("the test chart is one image: give -o a file name, not a frame pattern");
    }
    frame.compare = options.compare_output.empty() ? InsertBeforeExtension(frame.output, "-compare")
                                                   : options.compare_output;
    CheckPlan({frame}, false);

    // The chart's type: as --depth asks, else float for formats that hold
    // floats (so values beyond 0..1 show), else 8-bit.
    SampleType type = SampleType::kUint8;
    if (options.depth) {
        type = *options.depth == Depth::k8    ? SampleType::kUint8
               : *options.depth == Depth::k16 ? SampleType::kUint16
                                              : SampleType::kFloat;
    } else {
        const std::string extension = fs::path(frame.output).extension().string();
        for (const char* float_format : {".exr", ".sxr", ".mxr", ".hdr", ".pfm"}) {
            if (extension == float_format) type = SampleType::kFloat;
        }
    }
    const auto [width, height] = options.chart_size.value_or(std::pair{kChartWidth, kChartHeight});
    if (std::uint64_t(width) * std::uint64_t(height) > options.max_pixels) {
        throw InputError(
            fmt::format("--chart-size {}x{} is above the limit of {} pixels (--max-pixels)", width,
                        height, options.max_pixels));
    }

    Notes notes(options.quiet, nullptr);
    const sim::ParamValues defaults = session.Defaults();
    if (values.temperature == defaults.temperature && values.magenta == defaults.magenta &&
        values.opacity == defaults.opacity && values.clamp == defaults.clamp) {
        notes.Once("defaults",
                   "every control is at its default, which leaves the picture as it is; "
                   "try --temperature 1 or --magenta -0.5");
    }
    const Image chart = MakeTestChart(width, height, type);
    const Image after = RenderImage(session, options, values, chart, "test chart", notes);
    WriteResults(frame, chart, after, WriteSettings{FileTypeOf(type), nullptr}, notes);
    fmt::print("wrote {} (the test chart after the effect: {})\n", frame.output,
               ControlSummary(session, values));
    fmt::print("wrote {} (before | after)\n", frame.compare);
}

void RunFiles(const Options& options, EffectSession& session) {
    const sim::ParamValues values = ControlValues(options, session);
    const std::vector<Frame> frames = PlanFrames(options);
    CheckPlan(frames, options.overwrite_input);

    const bool sequence = frames.size() > 1;
    Progress progress(long(frames.size()), !options.quiet && sequence);
    Notes notes(options.quiet, &progress);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Frame& frame = frames[i];
        try {
            const LoadedImage loaded = ReadImage(frame.input, options.max_pixels);
            for (const std::string& note : loaded.notes) notes.Once("channels", note);
            const Image after =
                RenderImage(session, options, values, loaded.image, frame.input, notes);
            WriteResults(frame, loaded.image, after, WriteSettings{loaded.header.format, &loaded},
                         notes);
        } catch (const std::exception& e) {
            progress.Clear();
            if (!sequence) throw;
            throw std::runtime_error(
                fmt::format("{} ({} of {}) failed: {}; {} finished frame(s) kept", frame.label,
                            i + 1, frames.size(), e.what(), i));
        }
        SetFramesFinished(long(i) + 1);
        progress.FrameDone();
    }
}

void RunRaw(const Options& options, EffectSession& session) {
    const sim::ParamValues values = ControlValues(options, session);
    const RawFormat& format = FindRawFormat(options.pix_fmt);
    const auto [width, height] = *options.raw_size;
    if (std::uint64_t(width) * std::uint64_t(height) > options.max_pixels) {
        throw RawError(fmt::format("--raw {}x{} is above the limit of {} pixels (--max-pixels)",
                                   width, height, options.max_pixels));
    }
    if (::isatty(STDOUT_FILENO) != 0) {
        throw RawError("standard output is a terminal; pipe the raw video into ffmpeg or a file");
    }
    // Refused before the first frame is read, not after.
    ChooseLayout(format.type, options.host, options.depth, session.capabilities());

    std::vector<std::byte> frame(FrameBytes(format, width, height));
    Progress progress(0, !options.quiet);
    Notes notes(options.quiet, &progress);
    for (long done = 0;; ++done) {
        const std::size_t got = ReadFull(STDIN_FILENO, frame);
        if (got == 0) break;
        if (got < frame.size()) {
            throw RawError(fmt::format(
                "standard input: frame {} is truncated, {} of {} bytes (are --raw {}x{} and "
                "--pix-fmt {} right?); {} frame(s) written",
                done + 1, got, frame.size(), width, height, format.name, done));
        }
        const Image before = RawToImage(format, width, height, frame);
        const Image after = RenderImage(session, options, values, before, "standard input", notes);
        ImageToRaw(format, after, frame);
        try {
            WriteFull(STDOUT_FILENO, frame);
        } catch (const RawError& e) {
            throw RawError(fmt::format("standard output: {} after {} frame(s)", e.what(), done));
        }
        SetFramesFinished(done + 1);
        progress.FrameDone();
    }
}

std::string ControlTable(const EffectSession& session) {
    std::string table = fmt::format("  {:<15} {:<17} {:>3}  {:<13} {:<8} {:<17} {}\n", "option",
                                    "name", "id", "type", "default", "valid range", "slider range");
    for (const ControlInfo& c : session.controls()) {
        const bool slider = c.type != PF_Param_CHECKBOX;
        const char* type = c.type == PF_Param_FLOAT_SLIDER ? "float slider"
                           : c.type == PF_Param_FIX_SLIDER ? "fixed slider"
                                                           : "checkbox";
        table += fmt::format(
            "  {:<15} {:<17} {:>3}  {:<13} {:<8} {:<17} {}\n", c.option, c.name, c.id, type,
            FormatValue(c, c.default_value),
            slider ? FormatValue(c, c.valid_min) + " to " + FormatValue(c, c.valid_max) : "",
            slider ? FormatValue(c, c.slider_min) + " to " + FormatValue(c, c.slider_max) : "");
    }
    return table;
}

void Describe(EffectSession& session) {
    fmt::print("{}\n\nEffect library: {}\n\nControls, as the effect declares them:\n{}\n",
               session.AboutText(), session.path(), ControlTable(session));
    fmt::print("Layouts it renders:\n");
    for (HostKind host : {HostKind::kAe, HostKind::kPrmr}) {
        std::string list;
        for (Depth depth : SupportedDepths(host, session.capabilities())) {
            if (!list.empty()) list += ", ";
            list += fmt::format("--depth {} ({})", DepthName(depth),
                                DescribeLayout(*LayoutOf(host, depth)));
        }
        fmt::print("  --host {:<5} {}\n", HostName(host), list.empty() ? "nothing" : list);
    }
}

}  // namespace render
