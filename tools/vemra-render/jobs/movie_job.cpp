// The movie job: the movie stages (io/movie_demuxer.h, movie_decoder.h,
// movie_encoder.h, movie_muxer.h) wired into the frames in flight, the one
// place they meet. Every video frame is decoded, rendered, and either encoded
// into an output movie with the other streams, the timing and the tags kept,
// or written as one image file per frame through the image-frames driver.
// Decoding (taking) and encoding (finishing) keep frame order; converting and
// rendering run concurrently between them.
#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "tools/vemra-render/io/frame_pattern.h"
#include "tools/vemra-render/io/image_files.h"
#include "tools/vemra-render/io/movie_data_type.h"
#include "tools/vemra-render/io/movie_decoder.h"
#include "tools/vemra-render/io/movie_demuxer.h"
#include "tools/vemra-render/io/movie_encoder.h"
#include "tools/vemra-render/io/movie_formats.h"
#include "tools/vemra-render/io/movie_muxer.h"
#include "tools/vemra-render/io/movie_policy.h"
#include "tools/vemra-render/io/stream_converter.h"
#include "tools/vemra-render/io/stream_plan.h"
#include "tools/vemra-render/jobs/controls.h"
#include "tools/vemra-render/jobs/frame_work.h"
#include "tools/vemra-render/jobs/image_frames.h"
#include "tools/vemra-render/jobs/jobs.h"
#include "tools/vemra-render/jobs/movie_feed.h"
#include "tools/vemra-render/jobs/movie_output.h"
#include "tools/vemra-render/jobs/movie_part.h"
#include "tools/vemra-render/jobs/movie_plan.h"
#include "tools/vemra-render/jobs/outputs.h"
#include "tools/vemra-render/run/messages.h"
#include "tools/vemra-render/run/quiet_stderr.h"
#include "tools/vemra-render/run/work_plan.h"

namespace render {

namespace {

/// What went wrong with the failing frame: the stages' own message, which
/// names the movie and the frame, or "in.mov: frame 17 failed: why".
std::string FrameFailure(const std::exception_ptr& error, const std::string& input,
                         long frame_number) {
    try {
        std::rethrow_exception(error);
    } catch (const MovieError& e) {
        return e.what();
    } catch (const std::exception& e) {
        return fmt::format("{}: frame {} failed: {}", input, frame_number, ErrorText(e));
    }
}

/// A movie frame in flight: as decoded, converted to RGBA and rendered in
/// place, then converted for the encoder.
struct MovieSlot {
    DecodedFrame decoded;
    MovieFrame frame;
    EncoderFrame encoded;
};

/// Refuses what a movie output cannot take, and says whether
/// --skip-existing leaves the output as it is: when it is a finished movie
/// (one that opens, with the video and the `streams` streams it would
/// copy); a missing, cut or foreign file is rendered again.
bool CheckMovieRequest(const Options& options, const std::string& input, std::size_t streams) {
    if (options.start_number || options.compare) {
        throw UsageError("--start-number and --compare go with image outputs");
    }
    CheckMovieOutput(input, options);
    if (!options.skip_existing || !FinishedMovie(options.output, streams)) return false;
    if (!options.quiet) {
        WriteMessage(fmt::format("vemra-render: {} exists; left as it is (--skip-existing)\n",
                                 options.output));
    }
    return true;
}

/// Throws UsageError for a part that holds no frame, or fewer than --frames
/// asks for.
void CheckPartTaken(const Options& options, const SourceDescription& source, const MoviePart& part,
                    long taken) {
    if (part.whole() || (taken > 0 && (options.frames.empty() || taken >= part.count))) return;
    throw UsageError(options.frames.empty()
                         ? fmt::format("--start: {} holds no frame from there", source.path)
                         : fmt::format("--frames {}: {} ends before frame {}", options.frames,
                                       source.path,
                                       part.NumberAt(part.from) + taken + (taken == 0 ? 1 : 0)));
}

/// The movie into a movie: every frame, or the part asked for, the other
/// streams copied or converted within it, written to a temporary that is
/// renamed into place once the container is finalised; any failure leaves
/// no output.
void RenderMovieToMovie(const Options& options, EffectSession& session, MovieDemuxer& demuxer,
                        SourceDescription& source, const ParamValues& values,
                        const std::vector<std::string>& early_notes) {
    const std::string& input = source.path;
    source.video.spacing = demuxer.MeasureSpacing();
    const MoviePart part = PlanPart(options, source);
    MovieSources sources(options, source);
    if (CheckMovieRequest(options, input, sources.OutputStreamCount())) return;
    const long frames = part.whole() ? source.video.frame_count : part.count;
    const WorkPlan plan = PrepareMovieWork(options, session, source, frames);
    Progress progress(std::max(0L, frames), !options.quiet);
    Notes notes(options.quiet, &progress);
    SweepStaleTemporaries({{input, {options.output, ""}}}, notes);
    for (const std::string& note : early_notes) notes.Once(note, note);
    MovieOutput output(options, sources);
    PartFrames taken(options, demuxer, source, part, output);
    std::vector<MovieSlot> slots(std::size_t(plan.in_flight));
    PrintLibraryNotes(notes);

    FrameJob job;
    job.take = [&](long, int slot) { return taken.Next(slots[std::size_t(slot)].decoded); };
    job.work = [&](long, int slot_index, std::vector<PendingNote>& frame_notes) {
        MovieSlot& slot = slots[std::size_t(slot_index)];
        taken.decoder().Convert(slot.decoded, slot.frame);
        const Samples samples = SamplesOf(slot.frame.image);
        RenderFrame(session, slot_index, options, values, samples, samples, input, frame_notes);
        output.encoder().Prepare(slot.frame, slot.encoded);
    };
    const auto others = [&](MoviePacket& packet) { return taken.feed().TakeOther(packet); };
    // No SetFramesFinished: until the container is finalised, an interrupt
    // keeps none of the movie's frames.
    job.finish = [&](long, int slot_index) {
        MovieSlot& slot = slots[std::size_t(slot_index)];
        if (!output.started()) {
            output.Start(&slot.encoded, {part.whole() ? kNoTime : taken.first(), part.end}, notes);
        }
        output.Write(&slot.encoded, slot.frame.pts, others);
    };
    const FramesResult result = RunFrameJob(job, {plan.in_flight, notes, progress});
    progress.Clear();
    // A failure is said in its one line: what the libraries logged on the
    // way to it is not printed after the frames.
    if (!result.error) PrintLibraryNotes(notes);
    if (result.error) {
        taken.feed().StopOthers();
        try {
            std::rethrow_exception(result.error);
        } catch (const MovieRefused&) {
            throw;  // the encoder or the muxer, opened with the first frame, refused
        } catch (const UsageError&) {
            throw;
        } catch (...) {
        }
        const long number = part.whole() ? result.failed_frame + 1
                                         : part.NumberAt(taken.first()) + result.failed_frame;
        throw std::runtime_error(fmt::format(
            "{}; {} not written", FrameFailure(result.error, input, number), options.output));
    }
    CheckPartTaken(options, source, part, taken.taken());
    if (!output.started()) output.Start(nullptr, {}, notes);
    output.Write(nullptr, kNoTime, others);
    output.Finish(notes);
    PrintLibraryNotes(notes);
    if (!options.quiet) {
        WriteMessage(fmt::format("vemra-render: {} frame(s) of {} rendered into {} ({})\n",
                                 result.finished, input, options.output,
                                 output.encoder().Description()));
    }
}

/// The frames --frames asks for, from 1; empty: every frame.
std::set<long> WantedFrames(const Options& options) {
    std::set<long> wanted;
    if (options.frames.empty()) return wanted;
    const std::vector<long> numbers = ParseFrameRange(options.frames);
    wanted.insert(numbers.begin(), numbers.end());
    if (*wanted.begin() < 1) {
        throw UsageError(fmt::format("--frames {}: a movie's frames count from 1", options.frames));
    }
    return wanted;
}

/// The movie's frames as image frames, decoded in the take stage: each
/// frame (or each --frames picks) into the output pattern, numbered from
/// --start-number, or the one frame --frames picks into a single file.
class MovieFrames {
  public:
    MovieFrames(const Options& options, MovieDemuxer& demuxer, const SourceDescription& source)
        : options_(options),
          source_(source),
          decoder_(source, options.codec_threads),
          feed_(demuxer, decoder_),
          wanted_(WantedFrames(options)),
          rule_(options.output, options.compare, options.compare_output, false),
          start_(options.start_number.value_or(1)) {
        if (!rule_.pattern()) {
            const long count = source.video.frame_count;
            const bool one = wanted_.size() == 1 || (wanted_.empty() && count == 1);
            RequireOneFrame(options, source.path, count > 0 ? std::to_string(count) : "several",
                            one ? 1 : 0);
            if (wanted_.empty()) wanted_.insert(1);
        }
    }

    /// The frames the run is asked for, as far as the movie's header tells:
    /// those --frames picks, else every frame it counts (or the first). The
    /// count is taken only as far as the file could hold it, a frame a byte:
    /// a damaged header may claim millions.
    std::vector<ImageFrame> Planned() const {
        std::vector<ImageFrame> planned;
        if (!wanted_.empty()) {
            for (long number : wanted_) planned.push_back(FrameOf(number));
            return planned;
        }
        std::error_code error;
        const std::uintmax_t bytes = std::filesystem::file_size(source_.path, error);
        long count = std::max(1L, source_.video.frame_count);
        if (!error && std::uintmax_t(count) > bytes)
            count = long(std::max<std::uintmax_t>(1, bytes));
        for (long number = 1; number <= count; ++number) planned.push_back(FrameOf(number));
        return planned;
    }

    /// The frames the progress line counts; 0: not known.
    long total() const {
        return wanted_.empty() ? std::max(0L, source_.video.frame_count) : long(wanted_.size());
    }

    /// The source of the frames, decoding into one buffer per frame in flight.
    ImageFrameSource Source(int in_flight) {
        slots_.resize(std::size_t(in_flight));
        ImageFrameSource source;
        source.take = [this](long, int slot, ImageFrame& frame) { return Take(slot, frame); };
        source.read = [this](const ImageFrame&, int slot, LoadedImage&) {
            Decoded& decoded = slots_[std::size_t(slot)];
            decoder_.Convert(decoded.frame, decoded.image);
            const Image& image = decoded.image.image;
            return SourceSamples{SamplesOf(image), image.has_alpha, nullptr,
                                 MovieDataType(source_)};
        };
        return source;
    }

    /// Throws UsageError for a frame --frames asks for that the movie does not have.
    void CheckAllTaken() const {
        for (long number : wanted_) {
            if (std::find(taken_.begin(), taken_.end(), number) == taken_.end()) {
                throw UsageError(fmt::format("--frames {}: {} ends before frame {}",
                                             options_.frames, source_.path, number));
            }
        }
    }

    long taken() const { return long(taken_.size()); }
    /// The movie frame number of the last frame decoded and taken; 0: none.
    long LastDecoded() const { return taken_.empty() ? 0 : taken_.back(); }
    long skipped() const { return skipped_; }

  private:
    ImageFrame FrameOf(long number) const {
        return {fmt::format("frame {}", number), source_.path, int(number - 1), std::size_t(number),
                rule_.For(rule_.pattern() ? NumberOfFrame(start_, number) : 1)};
    }

    /// Decodes up to the next frame wanted and not skipped, into `slot`;
    /// it is converted in the frame's own work.
    bool Take(int slot, ImageFrame& frame) {
        DecodedFrame& decoded = slots_[std::size_t(slot)].frame;
        for (;;) {
            if (!wanted_.empty() && !taken_.empty() && taken_.back() >= *wanted_.rbegin()) {
                return false;  // past the last frame asked for: stop decoding
            }
            if (!feed_.Next(decoded)) return false;
            const long number = decoded.number();
            if (!wanted_.empty() && wanted_.count(number) == 0) continue;
            frame = FrameOf(number);
            taken_.push_back(number);
            if (options_.skip_existing && FinishedImage(frame.names.output) &&
                (frame.names.compare.empty() || FinishedImage(frame.names.compare))) {
                ++skipped_;
                continue;
            }
            return true;
        }
    }

    const Options& options_;
    const SourceDescription& source_;
    MovieDecoder decoder_;
    MovieFeed feed_;
    std::set<long> wanted_;
    OutputRule rule_;
    long start_;
    /// A frame in flight, as decoded and as converted.
    struct Decoded {
        DecodedFrame frame;
        MovieFrame image;
    };
    std::vector<Decoded> slots_;
    std::vector<long> taken_;  ///< the movie frame number of each frame taken or skipped
    long skipped_ = 0;
};

/// Refuses an output the tool cannot write as an image, saying why: it is
/// a movie format the tool does not write, or no format at all.
void CheckImageOutput(const std::string& output) {
    try {
        CheckOutputFormat(output);
    } catch (const OutputError&) {
        const std::string extension = std::filesystem::path(output).extension().string();
        throw RefusedError(
            FfmpegWrites(output)
                ? fmt::format("{}: FFmpeg writes \"{}\" files, but the tool writes movies only "
                              "into the containers --help lists (.mov, .mp4, .mkv, ...)",
                              output, extension)
                : fmt::format("{}: no movie or image format writes files ending in \"{}\"", output,
                              extension));
    }
}

/// The movie into image files.
void RenderMovieToImages(const Options& options, EffectSession& session, MovieDemuxer& demuxer,
                         const SourceDescription& source, const ParamValues& values,
                         const std::vector<std::string>& early_notes) {
    CheckImageOutput(options.output);
    if (options.start || options.duration || !options.audio_file.empty()) {
        throw UsageError(
            "--start, --duration and --audio-file go with a movie output; into image files, "
            "--frames picks the frames");
    }
    MovieFrames frames(options, demuxer, source);
    const std::vector<PlannedOutput> plan_of_outputs = PlanOf(frames.Planned());
    CheckPlan(plan_of_outputs, options);
    const WorkPlan plan = PrepareMovieWork(options, session, source, source.video.frame_count);
    Progress progress(frames.total(), !options.quiet);
    Notes notes(options.quiet, &progress);
    SweepStaleTemporaries(plan_of_outputs, notes);
    for (const std::string& note : early_notes) notes.Once(note, note);
    const ImageFramesResult result = RenderImageFrames(
        {options, session, values, plan, progress, notes}, frames.Source(plan.in_flight));
    progress.Clear();
    const FramesResult& done = result.frames;
    if (!done.error) PrintLibraryNotes(notes);
    if (done.error) {
        // A frame that failed in its decode (the take stage) was never taken:
        // it is the one after the last decoded.
        const auto index = std::size_t(done.failed_frame);
        const long number = index < result.taken.size() ? result.taken[index].frame_in_file + 1
                                                        : frames.LastDecoded() + 1;
        throw std::runtime_error(fmt::format("{}; {} finished frame(s) kept",
                                             FrameFailure(done.error, source.path, number),
                                             done.finished));
    }
    frames.CheckAllTaken();
    if (!options.quiet && (FramePattern::Parse(options.output) || frames.skipped() != 0)) {
        WriteMessage(fmt::format("vemra-render: {} frame(s) of {}: {}\n", frames.taken(),
                                 source.path, Tally(done.finished, frames.skipped(), 0, 0)));
    }
}

}  // namespace

void RunMovie(const Options& given, EffectSession& session) {
    if (given.output.empty()) throw UsageError("no output given: -o FILE");
    if (given.chunk != 0) throw UsageError("--chunk and --task go with an input frame pattern");
    if (given.frame_rate) {
        throw UsageError(fmt::format(
            "--frame-rate goes with an image sequence: the frames of {} keep their own times",
            given.inputs[0]));
    }
    const bool to_movie = ContainerFor(given.output) != nullptr;
    const ParamValues values = ValuesFromOptions(given.controls, session);
    MovieDemuxer demuxer(given.inputs[0], given.max_pixels);
    SourceDescription source = demuxer.source();
    std::vector<std::string> early_notes(2);
    early_notes[0] = TurnUpright(given, source, to_movie);
    const Options options = WithCodecBudget(given, source, early_notes[1]);
    std::erase(early_notes, std::string());
    if (to_movie) {
        RenderMovieToMovie(options, session, demuxer, source, values, early_notes);
    } else {
        RenderMovieToImages(options, session, demuxer, source, values, early_notes);
    }
}

}  // namespace render
