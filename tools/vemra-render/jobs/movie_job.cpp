// Movies through the effect: every video frame decoded with FFmpeg's
// libraries, rendered, and either encoded into an output movie with the
// other streams, the timing and the tags kept, or written as one image file
// per frame. Frames are in flight as in a sequence: decoding (taking) and
// encoding (finishing) keep frame order, the rendering between runs
// concurrently.
#include <fmt/format.h>

#include <algorithm>
#include <mutex>
#include <set>

#include "tools/vemra-render/io/compression.h"
#include "tools/vemra-render/io/frame_pattern.h"
#include "tools/vemra-render/io/image_files.h"
#include "tools/vemra-render/io/movie_reader.h"
#include "tools/vemra-render/io/movie_writer.h"
#include "tools/vemra-render/jobs/job_parts.h"
#include "tools/vemra-render/jobs/jobs.h"
#include "tools/vemra-render/pixels/compare_sheet.h"
#include "tools/vemra-render/pixels/pixel_convert.h"
#include "tools/vemra-render/run/atomic_output.h"
#include "tools/vemra-render/run/frame_pipeline.h"
#include "tools/vemra-render/run/interrupt.h"
#include "tools/vemra-render/run/quiet_stderr.h"

namespace render {

namespace {

/// A movie frame in flight: the decoded frame, rendered in place, and, for
/// image outputs, the encoded files waiting to be renamed into place.
struct MovieSlot : ImageFilesSlot {
    MovieFrame frame;
};

/// The work plan for a movie's frames, sized by its first frame.
WorkPlan PrepareMovieWork(const Options& options, EffectSession& session,
                          const MovieReader& reader) {
    const LayoutChoice choice =
        ChooseLayout(reader.type(), options.host, options.depth, session.capabilities());
    return PrepareWork(
        options, session, reader.frame_count(),
        FrameFootprint(std::uint64_t(reader.width()) * std::uint64_t(reader.height()),
                       SampleBytes(reader.type()), choice.layout, 4));
}

/// Renders the slot's frame in place.
void RenderFrame(EffectSession& session, int slot_index, MovieSlot& slot, const Options& options,
                 const sim::ParamValues& values, const std::string& name) {
    Image& image = slot.frame.image;
    const sim::World& output =
        RenderSamples(session, slot_index, slot, options, values, SamplesOf(image), name);
    WorldToSamples(output, SamplesOf(image));
}

/// What went wrong with the failing frame: the reader's own message, which
/// names the movie and the frame, or "in.mov: frame 17 failed: why".
std::string FrameFailure(const FramesResult& result, const std::string& input) {
    try {
        std::rethrow_exception(result.error);
    } catch (const MovieError& e) {
        return e.what();
    } catch (const std::exception& e) {
        return fmt::format("{}: frame {} failed: {}", input, result.failed_frame + 1, e.what());
    }
}

/// The movie into a movie: every frame, the other streams copied, written
/// to a temporary that is renamed into place once the container is
/// finalised; any failure leaves no output.
void RenderMovieToMovie(const Options& options, EffectSession& session, MovieReader& reader,
                        const sim::ParamValues& values) {
    const std::string& input = reader.path();
    if (!options.frames.empty() || options.start_number || options.compare) {
        throw UsageError(
            "--frames, --start-number and --compare go with image outputs: a movie is rendered "
            "whole, so that its sound stays in step (cut it with ffmpeg first)");
    }
    CheckOutputPath(options.output);
    if (SameFile(input, options.output) && !options.overwrite_input) {
        throw OutputError(
            fmt::format("{}: refusing to write over the input (--overwrite-input "
                        "allows it)",
                        options.output));
    }
    if (options.skip_existing && Exists(options.output)) {
        if (!options.quiet) {
            WriteMessage(fmt::format("vemra-render: {} exists; left as it is (--skip-existing)\n",
                                     options.output));
        }
        return;
    }

    const WorkPlan plan = PrepareMovieWork(options, session, reader);
    AtomicFile file(options.output);
    MovieWriter writer(file.temp_path(), options.output, reader,
                       {options.codec, options.movie_pix_fmt, options.quality.value_or(-1)});
    std::vector<MovieSlot> slots(std::size_t(plan.in_flight));
    Progress progress(std::max(0L, reader.frame_count()), !options.quiet);
    Notes notes(options.quiet, &progress);
    // The reader sets aside the copied streams' packets for the writer, so
    // decoding and encoding take turns.
    std::mutex streams;

    FrameStages stages;
    stages.take = [&](long, int slot_index) {
        const std::lock_guard lock(streams);
        return reader.Next(slots[std::size_t(slot_index)].frame);
    };
    stages.work = [&](long, int slot_index) {
        RenderFrame(session, slot_index, slots[std::size_t(slot_index)], options, values, input);
    };
    stages.finish = [&](long, int slot_index) {
        MovieSlot& slot = slots[std::size_t(slot_index)];
        {
            const std::lock_guard lock(streams);
            writer.Write(slot.frame);
        }
        // No SetFramesFinished: until the container is finalised, an
        // interrupt keeps none of the movie's frames.
        for (const PendingNote& note : slot.notes) notes.Once(note.kind, note.text);
        slot.notes.clear();
        progress.FrameDone();
    };
    stages.discard = [&](long, int slot_index) { slots[std::size_t(slot_index)].notes.clear(); };

    const FramesResult result = RunFrames(stages, plan.in_flight);
    progress.Clear();
    if (result.error) {
        throw std::runtime_error(
            fmt::format("{}; {} not written", FrameFailure(result, input), options.output));
    }
    writer.Finish();
    file.Commit();
    if (!options.quiet) {
        WriteMessage(fmt::format("vemra-render: {} frame(s) of {} rendered into {} ({})\n",
                                 result.finished, input, options.output,
                                 writer.EncoderDescription()));
    }
}

/// The movie into image files: each frame (or each --frames picks) into the
/// output pattern, numbered from --start-number; or the one frame --frames
/// picks into a single file.
void RenderMovieToImages(const Options& options, EffectSession& session, MovieReader& reader,
                         const sim::ParamValues& values) {
    const std::string& input = reader.path();
    const std::optional<FramePattern> pattern = FramePattern::Parse(options.output);
    std::set<long> wanted;
    if (!options.frames.empty()) {
        const std::vector<long> numbers = ParseFrameRange(options.frames);
        wanted.insert(numbers.begin(), numbers.end());
        if (*wanted.begin() < 1) {
            throw UsageError(
                fmt::format("--frames {}: a movie's frames count from 1", options.frames));
        }
    }
    if (!pattern) {
        if (options.start_number) {
            throw UsageError("--start-number numbers the files of an output frame pattern");
        }
        const bool one = wanted.size() == 1 || (wanted.empty() && reader.frame_count() == 1);
        if (!one) {
            throw UsageError(fmt::format(
                "{} holds {} frames and {} is one file: give -o a frame pattern (e.g. "
                "out.####.png) to render every frame, or --frames N to pick one",
                input, reader.frame_count() > 0 ? std::to_string(reader.frame_count()) : "several",
                options.output));
        }
        if (wanted.empty()) wanted.insert(1);
    }
    const long start = options.start_number.value_or(1);
    const auto output_of = [&](long number) {
        return pattern ? pattern->Format(start + number - 1) : options.output;
    };
    std::optional<FramePattern> sheet;
    if (options.compare) {
        sheet = !options.compare_output.empty()
                    ? FramePattern::Parse(options.compare_output)
                    : (pattern ? std::optional(pattern->WithStemSuffix("-compare")) : std::nullopt);
    }
    const auto sheet_of = [&](long number) -> std::string {
        if (!options.compare) return {};
        if (sheet) return sheet->Format(start + number - 1);
        return options.compare_output.empty() ? InsertBeforeExtension(options.output, "-compare")
                                              : options.compare_output;
    };
    for (const std::string& path : {output_of(1), sheet_of(1)}) {
        if (path.empty()) continue;
        CheckOutputPath(path);
        try {
            CheckCompression(CheckOutputFormat(path), options.compression);
        } catch (const std::invalid_argument& e) {
            throw UsageError(e.what());
        }
    }

    const WorkPlan plan = PrepareMovieWork(options, session, reader);
    std::vector<MovieSlot> slots(std::size_t(plan.in_flight));
    Progress progress(wanted.empty() ? std::max(0L, reader.frame_count()) : long(wanted.size()),
                      !options.quiet);
    Notes notes(options.quiet, &progress);
    std::vector<long> taken;  // the movie frame number of each pipeline frame
    long skipped = 0;

    FrameStages stages;
    stages.take = [&](long, int slot_index) {
        MovieFrame& frame = slots[std::size_t(slot_index)].frame;
        for (;;) {
            if (!wanted.empty() && !taken.empty() && taken.back() >= *wanted.rbegin()) {
                return false;  // past the last frame asked for: stop decoding
            }
            if (!reader.Next(frame)) return false;
            if (!wanted.empty() && wanted.count(frame.number) == 0) continue;
            if (options.skip_existing && Exists(output_of(frame.number)) &&
                (!options.compare || Exists(sheet_of(frame.number)))) {
                ++skipped;
                taken.push_back(frame.number);
                if (!wanted.empty() && frame.number >= *wanted.rbegin()) return false;
                continue;
            }
            taken.push_back(frame.number);
            return true;
        }
    };
    stages.work = [&](long, int slot_index) {
        MovieSlot& slot = slots[std::size_t(slot_index)];
        const long number = slot.frame.number;
        const Image before = options.compare ? slot.frame.image : Image{};
        RenderFrame(session, slot_index, slot, options, values, input);
        const WriteSettings settings{FileTypeOf(reader.type()), nullptr, options.compression,
                                     &slot.encoded};
        std::vector<std::string> written_notes;
        slot.pending_output =
            EncodeImage(output_of(number), slot.frame.image, settings, written_notes);
        if (options.compare) {
            slot.pending_compare =
                EncodeImage(sheet_of(number), MakeCompareSheet(before, slot.frame.image), settings,
                            written_notes);
        }
        for (std::string& note : written_notes) slot.notes.push_back({"alpha", std::move(note)});
    };
    long finished = 0;
    stages.finish = [&](long, int slot_index) {
        slots[std::size_t(slot_index)].Commit(notes);
        SetFramesFinished(++finished);
        progress.FrameDone();
    };
    stages.discard = [&](long, int slot_index) { slots[std::size_t(slot_index)].Drop(); };

    const FramesResult result = RunFrames(stages, plan.in_flight);
    progress.Clear();
    if (result.error) {
        throw std::runtime_error(fmt::format("{}; {} finished frame(s) kept",
                                             FrameFailure(result, input), result.finished));
    }
    for (long number : wanted) {
        if (std::find(taken.begin(), taken.end(), number) == taken.end()) {
            throw UsageError(
                fmt::format("--frames {}: {} ends before frame {}", options.frames, input, number));
        }
    }
    if (!options.quiet && (pattern || skipped != 0)) {
        WriteMessage(fmt::format("vemra-render: {} frame(s) of {}: {}\n", taken.size(), input,
                                 Tally(result.finished, skipped, 0, 0)));
    }
}

}  // namespace

void RunMovie(const Options& options, EffectSession& session) {
    if (options.output.empty()) throw UsageError("no output given: -o FILE");
    if (options.chunk != 0) throw UsageError("--chunk and --task go with an input frame pattern");
    const sim::ParamValues values = ControlValues(options, session);
    MovieReader reader(options.inputs[0], options.max_pixels);
    if (IsMoviePath(options.output)) {
        RenderMovieToMovie(options, session, reader, values);
    } else {
        RenderMovieToImages(options, session, reader, values);
    }
}

}  // namespace render
