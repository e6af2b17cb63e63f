#include "tools/vemra-render/jobs/jobs.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <system_error>

#include "tools/vemra-render/io/compression.h"
#include "tools/vemra-render/io/frame_pattern.h"
#include "tools/vemra-render/io/image_files.h"
#include "tools/vemra-render/io/raw_frames.h"
#include "tools/vemra-render/jobs/job_parts.h"
#include "tools/vemra-render/jobs/task_range.h"
#include "tools/vemra-render/pixels/compare_sheet.h"
#include "tools/vemra-render/pixels/pixel_convert.h"
#include "tools/vemra-render/pixels/samples.h"
#include "tools/vemra-render/pixels/test_chart.h"
#include "tools/vemra-render/run/atomic_output.h"
#include "tools/vemra-render/run/frame_pipeline.h"
#include "tools/vemra-render/run/interrupt.h"
#include "tools/vemra-render/run/progress.h"
#include "tools/vemra-render/run/quiet_stderr.h"
#include "tools/vemra-render/run/work_plan.h"
#include "tools/vemra-render/session/layout_choice.h"

namespace render {

namespace fs = std::filesystem;

static_assert(2 * kMaxInFlight <= kMaxTemporaries,
              "every frame in flight must find room for its two temporaries in the sweep");

namespace {

/// One image to render: where it comes from and where its results go.
struct Frame {
    std::string label;  ///< "frame 17", empty for a single image
    std::string input;  ///< empty for the test chart
    std::string output;
    std::string compare;       ///< empty: no sheet
    std::size_t position = 0;  ///< from 1, among the frames the run was asked for
    /// Which frame of a file of several frames (from 0); -1: the input is
    /// expected to hold one frame, and one holding more is refused.
    int frame_in_file = -1;
    /// The output exists and stays as it is (--skip-existing); only the
    /// missing sheet is written.
    bool keep_output = false;
};

/// A key that is equal for two names of one file.
std::string FileKey(const std::string& path) {
    struct stat s {};
    if (::stat(path.c_str(), &s) == 0) return fmt::format("inode {}:{}", s.st_dev, s.st_ino);
    std::error_code error;
    return "path " + fs::weakly_canonical(path, error).string();
}

/// Refuses, before anything is rendered, outputs whose folder is missing or
/// whose format the tool cannot write or compress as asked, two results going
/// to one file, and a result replacing an input (unless --overwrite-input; a
/// sheet never replaces an input).
void CheckPlan(const std::vector<Frame>& frames, const Options& options) {
    const bool overwrite_input = options.overwrite_input;
    std::map<std::string, std::string> inputs;  // key -> name
    for (const Frame& frame : frames) {
        if (!frame.input.empty()) inputs.emplace(FileKey(frame.input), frame.input);
    }
    std::map<std::string, std::string> outputs;
    for (const Frame& frame : frames) {
        for (const std::string* path : {&frame.output, &frame.compare}) {
            if (path->empty()) continue;
            CheckOutputPath(*path);
            try {
                CheckCompression(CheckOutputFormat(*path), options.compression);
            } catch (const std::invalid_argument& e) {
                throw UsageError(e.what());
            }
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

/// The frame numbers of an input pattern: --frames, else those on disk.
std::vector<long> SequenceNumbers(const Options& options, const FramePattern& pattern) {
    std::vector<long> numbers =
        options.frames.empty() ? pattern.FindExisting() : ParseFrameRange(options.frames);
    if (numbers.empty()) {
        throw InputError(fmt::format("{}: no frames found; give --frames", pattern.text()));
    }
    return numbers;
}

/// The frames `path` holds; 1 when it cannot be opened (its frame then
/// fails on its own, with the reader's message).
int FramesInFile(const std::string& path) {
    try {
        return CountFrames(path);
    } catch (const InputError&) {
        return 1;
    }
}

/// The frames of one input file of `count` frames (a multi-page TIFF, a
/// movie): each frame into the output pattern, numbered from --start-number,
/// or the one frame --frames picks into a single output. Never just the
/// first frame of several.
std::vector<Frame> PlanFramesOfFile(const Options& options, const std::string& input, int count,
                                    const std::optional<FramePattern>& out_pattern,
                                    const std::optional<FramePattern>& sheet_pattern) {
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
    if (!out_pattern) {
        if (options.start_number) {
            throw UsageError("--start-number numbers the files of an output frame pattern");
        }
        if (numbers.size() != 1) {
            throw UsageError(
                fmt::format("{} holds {} frames and {} is one file: give -o a frame pattern (e.g. "
                            "out.####.png) to render every frame, or --frames N to pick one",
                            input, count, options.output));
        }
        Frame frame{"",
                    input,
                    options.output,
                    ComparePathFor(options, options.output),
                    1,
                    int(numbers[0] - 1)};
        return {frame};
    }
    std::vector<Frame> frames;
    const long start = options.start_number.value_or(1);
    for (long number : numbers) {
        const long file_number = start + number - 1;
        frames.push_back({fmt::format("frame {}", number), input, out_pattern->Format(file_number),
                          sheet_pattern ? sheet_pattern->Format(file_number) : std::string(),
                          frames.size() + 1, int(number - 1)});
    }
    return frames;
}

/// The frames of a file job: one file, several files, or a pattern (with
/// --task, that task's chunk of it, which may be empty).
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

    if (options.chunk != 0 && !in_pattern) {
        throw UsageError("--chunk and --task go with an input frame pattern");
    }
    if (in_pattern) {
        const FramePattern out = RequirePattern(options.output, "the output");
        std::optional<FramePattern> sheet;
        if (options.compare) {
            sheet = options.compare_output.empty()
                        ? out.WithStemSuffix("-compare")
                        : RequirePattern(options.compare_output, "the compare sheet");
        }
        const std::vector<long> numbers = SequenceNumbers(options, *in_pattern);
        std::span<const long> chosen = numbers;
        if (options.task) chosen = ChunkOfTask(numbers, options.chunk, *options.task);
        for (long number : chosen) {
            frames.push_back({fmt::format("frame {}", number), in_pattern->Format(number),
                              out.Format(number), sheet ? sheet->Format(number) : std::string(),
                              frames.size() + 1});
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
    if (options.inputs.size() == 1) {
        const int count = FramesInFile(options.inputs[0]);
        if (count > 1 || !options.frames.empty() || options.start_number) {
            return PlanFramesOfFile(options, options.inputs[0], count, out_pattern, sheet_pattern);
        }
    }
    if (options.start_number) {
        throw UsageError("--start-number goes with one input file of several frames");
    }
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        const std::string& input = options.inputs[i];
        Frame frame;
        frame.label = options.inputs.size() > 1 ? fmt::format("file {} ({})", i + 1, input) : "";
        frame.input = input;
        frame.position = i + 1;
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
    CheckPlan({frame}, options);

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
    FrameSlot slot;
    const sim::World& output =
        RenderSamples(session, 0, slot, options, values, SamplesOf(chart), "test chart");
    for (const PendingNote& note : slot.notes) notes.Once(note.kind, note.text);
    Image after = Image::Blank(width, height, type, chart.has_alpha);
    WorldToSamples(output, SamplesOf(after));
    WriteSettings settings{FileTypeOf(type), nullptr, options.compression, nullptr};
    for (const std::string& note : WriteImage(frame.output, after, settings))
        notes.Once("alpha", note);
    WriteImage(frame.compare, MakeCompareSheet(chart, after), settings);
    fmt::print("wrote {} (the test chart after the effect: {})\n", frame.output,
               ControlSummary(session, values));
    fmt::print("wrote {} (before | after)\n", frame.compare);
}

namespace {

/// Estimates a frame's footprint from the first input's header, opened but
/// not decoded; 0 when it cannot be read (its frame will fail on its own),
/// which leaves the frames in flight to the thread count alone.
std::uint64_t FileFrameFootprint(const Options& options, const EffectSession& session,
                                 const std::string& path) {
    // Only a regular file: opening a pipe here would take what its frame reads.
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return 0;
    const std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::create(path);
    OIIO::ImageSpec header;
    const bool opened = in && in->open(path, header);
    OIIO::geterror();
    if (!opened) return 0;
    in->close();
    const SampleType type = HoldingType(header.format);
    std::optional<LayoutChoice> choice;
    try {
        choice = ChooseLayout(type, options.host, options.depth, session.capabilities());
    } catch (const LayoutError&) {
        return 0;
    }
    return FrameFootprint(
        std::uint64_t(std::max(0, header.width)) * std::uint64_t(std::max(0, header.height)),
        SampleBytes(type), choice->layout, std::size_t(std::clamp(header.nchannels, 1, 8)));
}

/// A file frame in flight: the slot's buffers, and its outputs waiting to be
/// renamed into place.
struct FileSlot : ImageFilesSlot {
    LoadedImage loaded;
    Image after;
};

}  // namespace

namespace {

/// With --skip-existing, takes out of `frames` those whose every result is
/// already there, and marks those whose output is there but whose sheet is
/// missing. Returns how many were taken out.
long SkipExisting(std::vector<Frame>& frames) {
    const std::size_t before = frames.size();
    std::erase_if(frames, [](Frame& frame) {
        frame.keep_output = Exists(frame.output);
        return frame.keep_output && (frame.compare.empty() || Exists(frame.compare));
    });
    return long(before - frames.size());
}

/// Removes the temporaries a killed run on this host left for these frames'
/// outputs, and says so.
void SweepStaleTemporaries(const std::vector<Frame>& frames, Notes& notes) {
    std::vector<fs::path> targets;
    for (const Frame& frame : frames) {
        targets.emplace_back(frame.output);
        if (!frame.compare.empty()) targets.emplace_back(frame.compare);
    }
    const std::vector<fs::path> removed = RemoveStaleTemporaries(targets);
    if (!removed.empty()) {
        notes.Once("stale", fmt::format("removed {} temporary file(s) that a stopped run on this "
                                        "host left behind (the first: {})",
                                        removed.size(), removed[0].string()));
    }
}

/// "task 3 of 24 (frame 1021 to frame 1030)" or "40 frame(s)": what a
/// sequence run covered. `planned` is not empty.
std::string RunScope(const Options& options, const std::vector<Frame>& planned) {
    if (!options.task) return fmt::format("{} frame(s)", planned.size());
    const FramePattern pattern = *FramePattern::Parse(options.inputs[0]);
    const long tasks = TaskCount(SequenceNumbers(options, pattern).size(), options.chunk);
    return fmt::format("task {} of {} ({} to {})", *options.task, tasks, planned.front().label,
                       planned.back().label);
}

}  // namespace

void RunFiles(const Options& options, EffectSession& session) {
    const sim::ParamValues values = ControlValues(options, session);
    const std::vector<Frame> planned = PlanFrames(options);
    const bool sequence = planned.size() > 1 || options.task;
    if (planned.empty()) {
        const FramePattern pattern = *FramePattern::Parse(options.inputs[0]);
        const std::size_t count = SequenceNumbers(options, pattern).size();
        Notes(options.quiet, nullptr)
            .Once("task", fmt::format("task {}: the sequence's {} frame(s) make {} task(s) of "
                                      "{}; nothing to render",
                                      *options.task, count, TaskCount(count, options.chunk),
                                      options.chunk));
        return;
    }
    CheckPlan(planned, options);
    std::vector<Frame> frames = planned;
    const long skipped = options.skip_existing ? SkipExisting(frames) : 0;
    Progress progress(long(frames.size()), !options.quiet && sequence);
    Notes notes(options.quiet, &progress);
    SweepStaleTemporaries(planned, notes);
    const std::string scope = RunScope(options, planned);
    if (frames.empty()) {
        if (!options.quiet) {
            WriteMessage(fmt::format("vemra-render: {}: {} (every output exists)\n", scope,
                                     Tally(0, skipped, 0, 0)));
        }
        return;
    }

    const WorkPlan plan = PrepareWork(options, session, long(frames.size()),
                                      FileFrameFootprint(options, session, frames[0].input));
    std::vector<FileSlot> slots(std::size_t(plan.in_flight));
    long finished = 0;

    FrameStages stages;
    stages.work = [&](long index, int slot_index) {
        const Frame& frame = frames[std::size_t(index)];
        FileSlot& slot = slots[std::size_t(slot_index)];
        ReadImage(frame.input, options.max_pixels, slot.loaded, std::max(0, frame.frame_in_file));
        if (slot.loaded.more_frames && frame.frame_in_file < 0) {
            throw InputError(fmt::format(
                "{}: holds several frames (pages, or a movie's frames); give it as the only "
                "input, with -o a frame pattern",
                frame.input));
        }
        for (const std::string& note : slot.loaded.notes) slot.notes.push_back({"channels", note});
        const ConstSamples before = slot.loaded.samples();
        const sim::World& output =
            RenderSamples(session, slot_index, slot, options, values, before, frame.input);
        slot.after.Reshape(before.width, before.height, before.layout.type,
                           slot.loaded.has_alpha());
        WorldToSamples(output, SamplesOf(slot.after));
        const WriteSettings settings{slot.loaded.header.format, &slot.loaded, options.compression,
                                     &slot.encoded};
        std::vector<std::string> written_notes;
        if (!frame.keep_output) {
            slot.pending_output = EncodeImage(frame.output, slot.after, settings, written_notes);
        }
        if (!frame.compare.empty()) {
            slot.pending_compare =
                EncodeImage(frame.compare, MakeCompareSheet(ToImage(before), slot.after), settings,
                            written_notes);
        }
        for (std::string& note : written_notes) slot.notes.push_back({"alpha", std::move(note)});
    };
    stages.finish = [&](long, int slot_index) {
        slots[std::size_t(slot_index)].Commit(notes);
        SetFramesFinished(++finished);
        progress.FrameDone();
    };
    stages.discard = [&](long, int slot_index) { slots[std::size_t(slot_index)].Drop(); };
    // "frame 17 (17 of 40) failed: why"
    const auto failure = [&](long index, const std::exception_ptr& error) {
        const Frame& frame = frames[std::size_t(index)];
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            return fmt::format("{} ({} of {}) failed: {}", frame.label, frame.position,
                               planned.size(), e.what());
        }
    };
    if (options.keep_going) {
        stages.failed = [&](long index, const std::exception_ptr& error) {
            progress.Clear();
            WriteMessage(fmt::format("vemra-render: error: {}\n", failure(index, error)));
        };
    }

    const FramesResult result =
        RunFrames(stages, plan.in_flight, long(frames.size()), nullptr,
                  options.keep_going ? OnFailure::kKeepGoing : OnFailure::kStop);
    progress.Clear();
    const long left = long(frames.size()) - result.finished - result.failures;
    const std::string tally = Tally(result.finished, skipped, result.failures, left);
    if (!result.error) {
        if (sequence && !options.quiet)
            WriteMessage(fmt::format("vemra-render: {}: {}\n", scope, tally));
        return;
    }
    if (!sequence) std::rethrow_exception(result.error);
    if (options.keep_going) {
        throw std::runtime_error(fmt::format("{}: {}; the first failure: {}", scope, tally,
                                             failure(result.failed_frame, result.error)));
    }
    throw std::runtime_error(fmt::format("{}; {} finished frame(s) kept ({}: {})",
                                         failure(result.failed_frame, result.error),
                                         result.finished, scope, tally));
}

void PrintTasks(const Options& options) {
    const std::optional<FramePattern> pattern = FramePattern::Parse(options.inputs[0]);
    if (!pattern) {
        throw UsageError(
            fmt::format("--print-tasks: \"{}\" is not a frame pattern (e.g. "
                        "plate.####.exr)",
                        options.inputs[0]));
    }
    fmt::print("{}\n",
               TaskRange(TaskCount(SequenceNumbers(options, *pattern).size(), options.chunk)));
}

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

/// A raw frame in flight: its bytes, which the rendered frame replaces.
struct RawSlot : FrameSlot {
    std::vector<std::byte> frame;
};

}  // namespace

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
    const LayoutChoice choice =
        ChooseLayout(format.type, options.host, options.depth, session.capabilities());

    const std::size_t frame_bytes = FrameBytes(format, width, height);
    const SampleLayout layout = FrameLayout(format, width, height);
    const WorkPlan plan =
        PrepareWork(options, session, -1,
                    frame_bytes + 2 * std::uint64_t(width) * std::uint64_t(height) *
                                      sim::BytesPerPixel(choice.layout));
    std::vector<RawSlot> slots(std::size_t(plan.in_flight));
    Progress progress(0, !options.quiet);
    Notes notes(options.quiet, &progress);

    FrameStages stages;
    stages.take = [&](long index, int slot_index) {
        RawSlot& slot = slots[std::size_t(slot_index)];
        slot.frame.resize(frame_bytes);
        const std::size_t got = ReadFull(STDIN_FILENO, slot.frame);
        if (got == 0) return false;
        if (got < frame_bytes) {
            throw TruncatedFrame(fmt::format(
                "standard input: frame {} is truncated, {} of {} bytes (are --raw {}x{} and "
                "--pix-fmt {} right?)",
                index + 1, got, frame_bytes, width, height, format.name));
        }
        return true;
    };
    stages.work = [&](long, int slot_index) {
        RawSlot& slot = slots[std::size_t(slot_index)];
        const sim::World& output =
            RenderSamples(session, slot_index, slot, options, values,
                          ConstSamples{slot.frame.data(), width, height, layout}, "standard input");
        WorldToSamples(output, Samples{slot.frame.data(), width, height, layout});
    };
    stages.finish = [&](long index, int slot_index) {
        RawSlot& slot = slots[std::size_t(slot_index)];
        try {
            WriteFull(STDOUT_FILENO, slot.frame);
        } catch (const RawError& e) {
            throw PipeWriteError(e.what());
        }
        for (const PendingNote& note : slot.notes) notes.Once(note.kind, note.text);
        slot.notes.clear();
        SetFramesFinished(index + 1);
        progress.FrameDone();
    };
    stages.discard = [&](long, int slot_index) { slots[std::size_t(slot_index)].notes.clear(); };

    const FramesResult result = RunFrames(stages, plan.in_flight);
    if (!result.error) return;
    progress.Clear();
    try {
        std::rethrow_exception(result.error);
    } catch (const TruncatedFrame& e) {
        throw RawError(fmt::format("{}; {} frame(s) written", e.what(), result.finished));
    } catch (const PipeWriteError& e) {
        throw RawError(
            fmt::format("standard output: {} after {} frame(s)", e.what(), result.finished));
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
