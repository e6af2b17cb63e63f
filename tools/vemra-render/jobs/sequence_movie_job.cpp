// The sequence-into-a-movie job: the frames of an image sequence (a
// pattern, several files, or one file of several frames such as a
// multi-page TIFF), each read from disk and rendered on its frame's own
// thread, encoded in frame order into a movie at the sequence's rate, with
// the first frame's timecode, converted with BT.709 limited range unless
// --color-matrix and --color-range say otherwise. The output side is any
// movie's (movie_output.h): the container's default encoder for images, a
// sound file laid in, the atomic output.
#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "tools/vemra-render/io/frame_pattern.h"
#include "tools/vemra-render/io/image_files.h"
#include "tools/vemra-render/io/movie_sequence.h"
#include "tools/vemra-render/jobs/controls.h"
#include "tools/vemra-render/jobs/frame_work.h"
#include "tools/vemra-render/jobs/image_frames.h"
#include "tools/vemra-render/jobs/jobs.h"
#include "tools/vemra-render/jobs/movie_output.h"
#include "tools/vemra-render/jobs/movie_plan.h"
#include "tools/vemra-render/jobs/outputs.h"
#include "tools/vemra-render/run/messages.h"
#include "tools/vemra-render/run/quiet_stderr.h"

namespace render {

namespace {

/// The rate a sequence is written at when neither --frame-rate nor its
/// files' headers give one: the cinema's.
constexpr Rational kDefaultRate{24, 1};

/// One frame of the sequence: the file it is in, and which frame of it.
struct SequenceFrame {
    std::string label;  ///< "frame 1001", "file 2 (b.png)"
    std::string input;
    int frame_in_file = 0;
};

/// A pattern's frames: --frames, else those on disk. A movie has no holes:
/// frames missing on disk refuse the run, naming them.
std::vector<SequenceFrame> PatternFrames(const Options& options, const FramePattern& pattern) {
    const std::vector<long> numbers = SequenceNumbers(options, pattern);
    std::vector<long> missing;
    std::error_code error;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (!options.frames.empty() &&
            !std::filesystem::exists(pattern.Format(numbers[i]), error)) {
            missing.push_back(numbers[i]);
        }
        for (long gap = i > 0 ? numbers[i - 1] + 1 : numbers[i]; gap < numbers[i]; ++gap) {
            missing.push_back(gap);
        }
    }
    if (!missing.empty()) {
        throw InputRefused(fmt::format(
            "{}: no file for frame(s) {}{} ({} in all): a movie has no holes; render them, or "
            "give --frames a run without them",
            pattern.text(),
            fmt::join(
                missing.begin(),
                missing.begin() + std::min<std::ptrdiff_t>(10, std::ptrdiff_t(missing.size())),
                ", "),
            missing.size() > 10 ? ", ..." : "", missing.size()));
    }
    std::vector<SequenceFrame> frames;
    for (long number : numbers) {
        frames.push_back({fmt::format("frame {}", number), pattern.Format(number), 0});
    }
    return frames;
}

/// The frames of the sequence, in order, and its name for messages: a
/// pattern's, a folder's or several files' (one frame each), or one file's
/// frames (those --frames picks, from 1).
std::vector<SequenceFrame> PlanFrames(const Options& options, std::string& name,
                                      FileFrames& of_file) {
    name = options.inputs[0];
    if (const std::optional<FramePattern> pattern = FramePattern::Parse(name);
        pattern && options.inputs.size() == 1) {
        return PatternFrames(options, *pattern);
    }
    std::vector<SequenceFrame> frames;
    std::error_code error;
    if (options.inputs.size() == 1 && std::filesystem::is_directory(name, error)) {
        // A folder: its image files in the order of their names.
        for (const std::string& input : ImageFilesIn(name)) {
            frames.push_back({fmt::format("file {} ({})", frames.size() + 1, input), input, 0});
        }
        if (frames.empty()) throw InputRefused(fmt::format("{}: holds no image file", name));
        return frames;
    }
    if (options.inputs.size() > 1) {
        for (const std::string& input : options.inputs) {
            if (FramePattern::Parse(input)) {
                throw UsageError(
                    fmt::format("\"{}\": give one frame pattern, or several files", input));
            }
            frames.push_back({fmt::format("file {} ({})", frames.size() + 1, input), input, 0});
        }
        return frames;
    }
    of_file = FindFrames(name, options.max_pixels);
    for (long number : FileFrameNumbers(options, name, of_file.count)) {
        frames.push_back({fmt::format("frame {}", number), name, int(number - 1)});
    }
    return frames;
}

/// A frame in flight: as read, rendered into RGBA, converted for the encoder.
struct SequenceSlot {
    LoadedImage loaded;
    MovieFrame frame;
    EncoderFrame encoded;
};

/// What the run writes into a movie, decided from the first frame.
struct SequencePlan {
    std::vector<SequenceFrame> frames;
    /// Where one file of several frames has each (its TIFF pages).
    FileFrames of_file;
    SequenceVideo video;
    std::vector<std::string> notes;

    /// Where the one file's pages start, for its frames' reads; null for
    /// other sequences.
    const FileFrames* pages() const { return of_file.tiff_pages.empty() ? nullptr : &of_file; }
};

SequencePlan PlanSequence(const Options& options, const ColourChoice& choice) {
    SequencePlan plan;
    plan.frames = PlanFrames(options, plan.video.name, plan.of_file);
    const SequenceFrame& first = plan.frames.front();
    LoadedImage loaded;
    ReadImage(first.input, options.max_pixels, loaded, first.frame_in_file, choice, plan.pages());
    const SequenceTiming timing = TimingOf(loaded);
    SequenceVideo& video = plan.video;
    video.width = loaded.width;
    video.height = loaded.height;
    video.type = loaded.layout.type;
    video.has_alpha = loaded.has_alpha();
    video.frame_count = long(plan.frames.size());
    video.timecode = timing.timecode;
    video.frame_rate = options.frame_rate.value_or(timing.frame_rate);
    if (!video.frame_rate.valid()) {
        video.frame_rate = kDefaultRate;
        plan.notes.push_back(
            fmt::format("{}: its files give no frame rate: written at {} frames a second "
                        "(--frame-rate sets it)",
                        video.name, kDefaultRate.num));
    }
    if (timing.format_name == "openexr") {
        plan.notes.push_back(fmt::format(
            "{}: its OpenEXR values are scene-linear, and go into {} as they are, with no view "
            "transform: apply one first for a picture to view (e.g. oiiotool --ociodisplay)",
            video.name, options.output));
    }
    return plan;
}

/// Reads, checks and renders a frame into `slot`, and prepares it for the encoder.
void WorkOnFrame(const Options& options, EffectSession& session, const ParamValues& values,
                 const ColourChoice& choice, const SequencePlan& sequence, long index,
                 int slot_index, SequenceSlot& slot, MovieOutput& output,
                 std::vector<PendingNote>& notes) {
    const SequenceVideo& video = sequence.video;
    const SequenceFrame& frame = sequence.frames[std::size_t(index)];
    LoadedImage& loaded = slot.loaded;
    ReadImage(frame.input, options.max_pixels, loaded, frame.frame_in_file, choice,
              sequence.pages());
    notes.insert(notes.end(), loaded.notes.begin(), loaded.notes.end());
    if (loaded.width != video.width || loaded.height != video.height ||
        loaded.layout.type != video.type) {
        throw InputError(fmt::format(
            "{}: {}x{} {} samples, not {}x{} {} as the first frame: a movie's frames share one "
            "size and sample type",
            frame.input, loaded.width, loaded.height, SampleTypeName(loaded.layout.type),
            video.width, video.height, SampleTypeName(video.type)));
    }
    MovieFrame& movie = slot.frame;
    movie.image.Reshape(video.width, video.height, video.type, loaded.has_alpha());
    RenderFrame(session, slot_index, options, values, loaded.samples(), SamplesOf(movie.image),
                frame.input, notes);
    movie.pts = index;
    movie.duration = 1;
    movie.number = index + 1;
    output.encoder().Prepare(movie, slot.encoded);
}

/// "frame 1005 (5 of 40) failed: why; review.mov not written".
std::string FailureOf(const Options& options, const SequenceFrame& frame, long index, long count,
                      const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return fmt::format("{} ({} of {}) failed: {}{}; {} not written", frame.label, index + 1,
                           count, IsLibraryError(e) ? frame.input + ": " : "", ErrorText(e),
                           options.output);
    }
}

}  // namespace

void RunSequenceMovie(const Options& given, EffectSession& session) {
    if (given.output.empty()) throw UsageError("no output given: -o FILE");
    if (given.compare || given.start_number || given.start || given.duration) {
        throw UsageError(
            "--compare, --start-number, --start and --duration do not go with a sequence into a "
            "movie: --frames picks its frames");
    }
    const ParamValues values = ValuesFromOptions(given.controls, session);
    const ColourChoice choice{given.channels, given.parts, false};
    SequencePlan sequence = PlanSequence(given, choice);
    const SequenceVideo& video = sequence.video;
    const long count = video.frame_count;
    const SourceDescription described = DescribeSequence(video);
    std::string budget_note;
    const Options options = WithCodecBudget(given, described, budget_note);
    if (!budget_note.empty()) sequence.notes.push_back(budget_note);
    MovieSources sources(options, described);
    CheckMovieOutput(sequence.frames.front().input, options);
    if (options.skip_existing && FinishedMovie(options.output, sources.OutputStreamCount())) {
        if (!options.quiet) {
            WriteMessage(fmt::format("vemra-render: {} exists; left as it is (--skip-existing)\n",
                                     options.output));
        }
        return;
    }
    const WorkPlan plan = PrepareMovieWork(options, session, sources.described, count);
    Progress progress(count, !options.quiet);
    Notes notes(options.quiet, &progress);
    SweepStaleTemporaries({{sequence.frames.front().input, {options.output, ""}}}, notes);
    for (const std::string& note : sequence.notes) notes.Once(note, note);
    MovieOutput output(options, sources);
    std::vector<SequenceSlot> slots(std::size_t(plan.in_flight));

    FrameJob job;
    job.take = [&](long index, int) { return index < count; };
    job.work = [&](long index, int slot, std::vector<PendingNote>& frame_notes) {
        WorkOnFrame(options, session, values, choice, sequence, index, slot,
                    slots[std::size_t(slot)], output, frame_notes);
    };
    job.finish = [&](long index, int slot) {
        EncoderFrame& encoded = slots[std::size_t(slot)].encoded;
        if (!output.started()) output.Start(&encoded, {}, notes);
        output.Write(&encoded, index, {});
    };
    const FramesResult result = RunFrameJob(job, {plan.in_flight, notes, progress});
    progress.Clear();
    PrintLibraryNotes(notes);
    if (result.error) {
        try {
            std::rethrow_exception(result.error);
        } catch (const MovieRefused&) {
            throw;  // the encoder or the muxer, opened with the first frame, refused
        } catch (...) {
        }
        const long failed = result.failed_frame;
        throw std::runtime_error(
            FailureOf(options, sequence.frames[std::size_t(failed)], failed, count, result.error));
    }
    output.Write(nullptr, kNoTime, {});
    output.Finish(notes);
    PrintLibraryNotes(notes);
    if (!options.quiet) {
        WriteMessage(fmt::format("vemra-render: {} frame(s) of {} rendered into {} ({})\n",
                                 result.finished, video.name, options.output,
                                 output.encoder().Description()));
    }
}

}  // namespace render
