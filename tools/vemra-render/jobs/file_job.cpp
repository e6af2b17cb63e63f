// The file job: one image file, several files, a frame sequence (or, with
// --task, one farm task's chunk of it), or the frames of one file of several
// frames, each read from disk on its frame's own thread.
#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>

#include "tools/vemra-render/io/frame_pattern.h"
#include "tools/vemra-render/io/image_files.h"
#include "tools/vemra-render/io/image_formats.h"
#include "tools/vemra-render/jobs/controls.h"
#include "tools/vemra-render/jobs/frame_work.h"
#include "tools/vemra-render/jobs/image_frames.h"
#include "tools/vemra-render/jobs/jobs.h"
#include "tools/vemra-render/jobs/outputs.h"
#include "tools/vemra-render/jobs/task_range.h"
#include "tools/vemra-render/run/journal.h"
#include "tools/vemra-render/run/messages.h"
#include "tools/vemra-render/run/quiet_stderr.h"

namespace render {

namespace {

/// The frames `path` holds; one when it cannot be opened (its frame then
/// fails on its own, with the reader's message). A file refused from its
/// header is refused here, before any output.
FileFrames FramesInFile(const std::string& path, std::uint64_t max_pixels) {
    try {
        return FindFrames(path, max_pixels);
    } catch (const InputRefused&) {
        throw;
    } catch (const InputError&) {
        return {};
    }
}

/// "1010, 1011 (2 frames)", at most the first ten named.
std::string NameFrames(const std::vector<long>& frames) {
    constexpr std::size_t kNamed = 10;
    const std::size_t named = std::min(frames.size(), kNamed);
    return fmt::format("{}{} ({} frame{})",
                       fmt::join(frames.begin(), frames.begin() + std::ptrdiff_t(named), ", "),
                       frames.size() > named ? ", ..." : "", frames.size(),
                       frames.size() == 1 ? "" : "s");
}

/// The frames of a sequence missing on disk: of `chosen` (the frames
/// --frames lists, or one task's chunk of them) those without a file;
/// without --frames, the numbers between the first and the last of `chosen`
/// (the frames found on disk) that have none.
std::vector<long> MissingFrames(const Options& options, const FramePattern& in,
                                std::span<const long> chosen) {
    std::vector<long> missing;
    if (chosen.empty()) return missing;
    if (!options.frames.empty()) {
        std::error_code error;
        for (long number : chosen) {
            if (!std::filesystem::exists(in.Format(number), error)) missing.push_back(number);
        }
        return missing;
    }
    for (std::size_t i = 1; i < chosen.size(); ++i) {
        for (long number = chosen[i - 1] + 1; number < chosen[i]; ++number) {
            missing.push_back(number);
        }
    }
    return missing;
}

/// Refuses a sequence whose --frames lists frames missing on disk before
/// any frame renders, unless --keep-going (each missing frame then fails
/// on its own). With --task only the task's chunk counts, so that one hole
/// stops one task.
void RefuseMissingFrames(const Options& options, const FramePattern& in,
                         std::span<const long> chosen) {
    if (options.frames.empty() || options.keep_going) return;
    const std::vector<long> missing = MissingFrames(options, in, chosen);
    if (missing.empty()) return;
    throw InputRefused(
        fmt::format("{}: missing frame(s) {} of --frames {}{}; --keep-going renders "
                    "the others",
                    in.text(), NameFrames(missing), options.frames,
                    options.task ? fmt::format(" in task {}", *options.task) : ""));
}

/// The frames of an input pattern (with --task, that task's chunk of them,
/// unless `whole`).
std::vector<ImageFrame> PlanSequence(const Options& options, const FramePattern& in,
                                     bool whole = false) {
    const OutputRule rule(options.output, options.compare, options.compare_output, false);
    if (!rule.pattern()) RequirePattern(options.output, "the output");
    const std::vector<long> numbers = SequenceNumbers(options, in);
    std::span<const long> chosen = numbers;
    if (options.task && !whole) chosen = ChunkOfTask(numbers, options.chunk, *options.task);
    RefuseMissingFrames(options, in, chosen);
    std::vector<ImageFrame> frames;
    for (long number : chosen) {
        frames.push_back({fmt::format("frame {}", number), in.Format(number), -1, frames.size() + 1,
                          rule.For(number)});
    }
    return frames;
}

/// The frames of one input file of `count` frames (a multi-page TIFF, an
/// animation): each frame into the output pattern, numbered from
/// --start-number, or the one frame --frames picks into a single output.
/// Never just the first frame of several.
std::vector<ImageFrame> PlanFramesOfFile(const Options& options, const OutputRule& rule,
                                         const std::string& input, int count) {
    const std::vector<long> numbers = FileFrameNumbers(options, input, count);
    if (!rule.pattern()) {
        RequireOneFrame(options, input, std::to_string(count), numbers.size());
        return {{"", input, int(numbers[0] - 1), 1, rule.For(1, input)}};
    }
    std::vector<ImageFrame> frames;
    const long start = options.start_number.value_or(1);
    for (long number : numbers) {
        frames.push_back({fmt::format("frame {}", number), input, int(number - 1),
                          frames.size() + 1, rule.For(NumberOfFrame(start, number))});
    }
    return frames;
}

/// The frames of a file job: one file, several files, or a pattern. For one
/// input file, what FindFrames found of it goes to `of_file`.
std::vector<ImageFrame> PlanFiles(const Options& options, FileFrames& of_file) {
    if (options.output.empty()) throw UsageError("no output given: -o FILE");
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
    if (in_pattern) return PlanSequence(options, *in_pattern);

    const OutputRule rule(options.output, options.compare, options.compare_output, true);
    if (options.inputs.size() > 1 && !rule.pattern() && !rule.folder()) {
        throw UsageError("several inputs need -o to be a folder or a frame pattern");
    }
    if (options.inputs.size() == 1) {
        of_file = FramesInFile(options.inputs[0], options.max_pixels);
        if (of_file.count > 1 || !options.frames.empty() || options.start_number) {
            return PlanFramesOfFile(options, rule, options.inputs[0], of_file.count);
        }
    }
    if (options.start_number) {
        throw UsageError("--start-number goes with one input file of several frames");
    }
    std::vector<ImageFrame> frames;
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        const std::string& input = options.inputs[i];
        frames.push_back(
            {options.inputs.size() > 1 ? fmt::format("file {} ({})", i + 1, input) : "", input, -1,
             i + 1, rule.For(long(i) + 1, input)});
    }
    return frames;
}

/// True when `frame` renders over its own input.
bool InPlace(const ImageFrame& frame) {
    return !frame.input.empty() && SameFile(frame.input, frame.names.output);
}

/// The journal of a run that renders frames over their inputs, when -o is
/// a pattern or a folder (a single file is one rename: done or not); null
/// otherwise. It plans the whole job's in-place outputs, every farm task's.
std::unique_ptr<InPlaceJournal> OpenJournal(const Options& options,
                                            const std::vector<ImageFrame>& planned,
                                            const ParamValues& values) {
    const std::optional<FramePattern> out = FramePattern::Parse(options.output);
    if (!options.overwrite_input || (!out && options.inputs.size() < 2)) return nullptr;
    std::vector<ImageFrame> job = planned;
    if (options.task) job = PlanSequence(options, *FramePattern::Parse(options.inputs[0]), true);
    std::vector<std::string> names;
    std::filesystem::path folder;
    for (const ImageFrame& frame : job) {
        if (!InPlace(frame)) continue;
        const std::filesystem::path output(frame.names.output);
        folder = output.parent_path();
        names.push_back(output.filename().string());
    }
    if (names.empty()) return nullptr;
    const std::string name = out ? out->CanonicalName() : std::string("in-place");
    return std::make_unique<InPlaceJournal>(
        folder / ("." + name + ".vemra-journal"),
        fmt::format("--temperature {} --magenta {} --opacity {} --{} --host {} --depth {}",
                    values.temperature, values.magenta, values.opacity,
                    values.clamp ? "clamp" : "no-clamp",
                    options.host ? HostName(*options.host) : "auto",
                    options.depth ? DepthName(*options.depth) : "auto"),
        names);
}

/// Takes out of `frames` those already done and returns how many: a frame
/// rendered over its input that the journal records as rendered with these
/// values (with or without --skip-existing: its input is gone), and with
/// --skip-existing a frame whose every result is a finished file. A frame
/// whose output is finished and whose sheet is missing stays, marked to
/// write the sheet alone. Counts the in-place frames taken out in `in_place`,
/// and in `sheets_lost` those of them whose sheet is missing: it cannot be
/// made without the input.
long SkipFinished(std::vector<ImageFrame>& frames, const Options& options,
                  const InPlaceJournal* journal, long& in_place, long& sheets_lost) {
    const std::size_t before = frames.size();
    std::erase_if(frames, [&](ImageFrame& frame) {
        if (journal != nullptr && InPlace(frame)) {
            const bool done =
                journal->Done(std::filesystem::path(frame.names.output).filename().string());
            in_place += done;
            sheets_lost += done && !frame.names.compare.empty() && !Exists(frame.names.compare);
            return done;
        }
        if (!options.skip_existing) return false;
        frame.keep_output = FinishedImage(frame.names.output);
        return frame.keep_output &&
               (frame.names.compare.empty() || FinishedImage(frame.names.compare));
    });
    return long(before - frames.size());
}

/// "task 3 of 24 (frame 1021 to frame 1030)" or "40 frame(s)": what a
/// sequence run covered. `planned` is not empty.
std::string RunScope(const Options& options, const std::vector<ImageFrame>& planned) {
    if (!options.task) return fmt::format("{} frame(s)", planned.size());
    const FramePattern pattern = *FramePattern::Parse(options.inputs[0]);
    const long tasks = TaskCount(SequenceNumbers(options, pattern).size(), options.chunk);
    return fmt::format("task {} of {} ({} to {})", *options.task, tasks, planned.front().label,
                       planned.back().label);
}

/// A frame's footprint from its own header, opened but not decoded (a TIFF
/// page's own; another file of several frames by its first, since a walk to
/// a later frame costs what reading every frame before it does); 0 when it
/// cannot be read (its frame will fail on its own).
std::uint64_t FileFrameFootprint(const Options& options, const EffectSession& session,
                                 const ImageFrame& frame, const FileFrames& of_file) {
    const int index = of_file.tiff_pages.empty() ? 0 : std::max(0, frame.frame_in_file);
    const std::optional<ImageFileSummary> summary =
        ReadImageFileSummary(frame.input, options.max_pixels, index, &of_file);
    if (!summary) return 0;
    std::optional<LayoutChoice> choice;
    try {
        choice = ChooseLayout(summary->type, options.host, options.depth, session.capabilities());
    } catch (const LayoutError&) {
        return 0;
    }
    // Every channel of the file is held, the colour and the others.
    return FootprintBytes(
        DecodedFootprint(std::uint64_t(std::max(0, summary->width)) *
                             std::uint64_t(std::max(0, summary->height)),
                         summary->type,
                         std::size_t(std::clamp(summary->channels, 1, int(kMostSamplesPerPixel)))),
        *choice);
}

/// Which channels and parts the effect renders, and whether the output
/// keeps every part of the input (so that they are read).
ColourChoice ChoiceOf(const Options& options, const std::vector<ImageFrame>& frames) {
    ColourChoice choice{options.channels, options.parts, true};
    if (!frames.empty() && !frames[0].names.output.empty()) {
        const FormatKeeps* keeps = FindFormatKeeps(CheckOutputFormat(frames[0].names.output));
        choice.all_parts = keeps != nullptr && keeps->parts;
    }
    return choice;
}

/// Refuses a colour or part choice the inputs' headers rule out (several
/// layers that could be the colour, a part --parts names that is not
/// there, a deep part) before any frame renders: for a sequence, as its
/// first frame has them.
void CheckChoice(const ColourChoice& choice, const std::vector<ImageFrame>& frames, bool sequence,
                 std::uint64_t max_pixels) {
    for (const ImageFrame& frame : frames) {
        CheckColourChoice(frame.input, choice, max_pixels);
        if (sequence) return;
    }
}

/// Notes the numbers missing between the frames found on disk (no
/// --frames), within the task's own range with --task.
void NoteGaps(const Options& options, Notes& notes) {
    const std::optional<FramePattern> pattern = FramePattern::Parse(options.inputs[0]);
    if (!pattern || !options.frames.empty()) return;
    const std::vector<long> numbers = SequenceNumbers(options, *pattern);
    std::span<const long> chosen = numbers;
    if (options.task) chosen = ChunkOfTask(numbers, options.chunk, *options.task);
    const std::vector<long> missing = MissingFrames(options, *pattern, chosen);
    if (missing.empty()) return;
    notes.Once("gaps",
               fmt::format("{}: no file for frame(s) {} between {} and {} on disk; "
                           "they are skipped",
                           pattern->text(), NameFrames(missing), chosen.front(), chosen.back()));
}

/// Frames read from their files, in the work of each frame, each weighed
/// from its own header as it is taken. `of_file`: what was found of a single
/// input of several frames.
ImageFrameSource FileSource(const Options& options, const EffectSession& session,
                            const std::vector<ImageFrame>& frames, const ColourChoice& choice,
                            const FileFrames& of_file) {
    ImageFrameSource source;
    source.take = [&frames](long index, int, ImageFrame& frame) {
        if (std::size_t(index) >= frames.size()) return false;
        frame = frames[std::size_t(index)];
        return true;
    };
    source.weigh = [&options, &session, &of_file](const ImageFrame& frame) {
        return FileFrameFootprint(options, session, frame, of_file);
    };
    source.read = [&options, &choice, &of_file](const ImageFrame& frame, int, LoadedImage& loaded) {
        try {
            ReadImage(frame.input, options.max_pixels, loaded, std::max(0, frame.frame_in_file),
                      choice, &of_file);
        } catch (const std::exception& e) {
            // The standard library's errors name no file: this one is known.
            if (!IsLibraryError(e)) throw;
            throw InputError(fmt::format("{}: {}", frame.input, ErrorText(e)));
        }
        if (loaded.more_frames && frame.frame_in_file < 0) {
            throw InputError(fmt::format(
                "{}: holds several frames (pages, or a movie's frames); give it as the only "
                "input, with -o a frame pattern",
                frame.input));
        }
        return SourceSamples{loaded.samples(), loaded.has_alpha(), &loaded};
    };
    return source;
}

/// "frame 17 (17 of 40) failed: why"
std::string Failure(const ImageFrame& frame, std::size_t planned, const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return fmt::format("{} ({} of {}) failed: {}{}", frame.label, frame.position, planned,
                           IsLibraryError(e) ? frame.input + ": " : "", ErrorText(e));
    }
}

/// Says what the in-place journal told of this run's frames.
void NoteJournal(const InPlaceJournal& journal, long in_place, long sheets_lost, Notes& notes) {
    if (!journal.note().empty()) notes.Once("journal", journal.note());
    if (in_place > 0) {
        notes.Once("in place", fmt::format("{} frame(s) were rendered in place with these values "
                                           "already, as {} records; left as they are",
                                           in_place, journal.path().string()));
    }
    if (sheets_lost > 0) {
        notes.Once("sheets lost",
                   fmt::format("{} of them miss their before/after sheet, which cannot be made "
                               "again: their inputs were rendered over",
                               sheets_lost));
    }
}

/// Says that a task past the sequence's end has nothing to render.
void NothingToRender(const Options& options) {
    const FramePattern pattern = *FramePattern::Parse(options.inputs[0]);
    const std::size_t count = SequenceNumbers(options, pattern).size();
    Notes(options.quiet, nullptr)
        .Once("task",
              fmt::format("task {}: the sequence's {} frame(s) make {} task(s) of "
                          "{}; nothing to render",
                          *options.task, count, TaskCount(count, options.chunk), options.chunk));
}

}  // namespace

void RunFiles(const Options& options, EffectSession& session) {
    const ParamValues values = ValuesFromOptions(options.controls, session);
    FileFrames of_file;
    const std::vector<ImageFrame> planned = PlanFiles(options, of_file);
    const bool sequence = planned.size() > 1 || options.task;
    if (planned.empty()) return NothingToRender(options);
    CheckPlan(PlanOf(planned), options);
    const ColourChoice choice = ChoiceOf(options, planned);
    CheckChoice(choice, planned, sequence, options.max_pixels);
    const std::unique_ptr<InPlaceJournal> journal = OpenJournal(options, planned, values);
    std::vector<ImageFrame> frames = planned;
    long in_place = 0;
    long sheets_lost = 0;
    const long skipped = SkipFinished(frames, options, journal.get(), in_place, sheets_lost);
    Progress progress(long(frames.size()), !options.quiet && sequence);
    Notes notes(options.quiet, &progress);
    SweepStaleTemporaries(PlanOf(planned), notes);
    NoteGaps(options, notes);
    if (journal) NoteJournal(*journal, in_place, sheets_lost, notes);
    const std::string scope = RunScope(options, planned);
    if (frames.empty()) {
        if (!options.quiet) {
            WriteMessage(fmt::format(
                "vemra-render: {}: {} ({})\n", scope, Tally(0, skipped, 0, 0),
                in_place > 0 ? "every frame is rendered already" : "every output exists"));
        }
        return;
    }

    // The plan's frames in flight are sized by the first frame; each frame
    // is then weighed as it is taken, within the same budget.
    ImageFramesRun run{options,
                       session,
                       values,
                       PrepareWork(options, session, long(frames.size()),
                                   FileFrameFootprint(options, session, frames[0], of_file)),
                       progress,
                       notes};
    if (journal) {
        run.before_rename = [&journal](const ImageFrame& frame, const AtomicFile& output) {
            if (InPlace(frame)) {
                journal->Record(std::filesystem::path(frame.names.output).filename().string(),
                                output.temp_path());
            }
        };
    }
    if (options.keep_going) {
        run.on_failure = OnFailure::kKeepGoing;
        run.failed = [&](const ImageFrame& frame, const std::exception_ptr& error) {
            progress.Clear();
            WriteMessage(
                fmt::format("vemra-render: error: {}\n", Failure(frame, planned.size(), error)));
        };
    }
    const ImageFramesResult result =
        RenderImageFrames(run, FileSource(options, session, frames, choice, of_file));
    progress.Clear();
    const FramesResult& done = result.frames;
    const long left = long(frames.size()) - done.finished - done.failures;
    const std::string tally = Tally(done.finished, skipped, done.failures, left);
    if (!done.error) {
        if (sequence && !options.quiet)
            WriteMessage(fmt::format("vemra-render: {}: {}\n", scope, tally));
        return;
    }
    if (!sequence) std::rethrow_exception(done.error);
    const std::string failure =
        Failure(result.taken[std::size_t(done.failed_frame)], planned.size(), done.error);
    if (options.keep_going) {
        throw std::runtime_error(
            fmt::format("{}: {}; the first failure: {}", scope, tally, failure));
    }
    throw std::runtime_error(fmt::format("{}; {} finished frame(s) kept ({}: {})", failure,
                                         done.finished, scope, tally));
}

}  // namespace render
