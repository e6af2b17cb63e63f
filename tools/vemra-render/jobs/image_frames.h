// The one driver of the jobs whose results are image files (files and
// sequences, a movie's frames): each frame is taken in frame order, read,
// rendered, encoded into its output and sheet on its own thread, and
// renamed into place in frame order. Where the frames come from (files on
// disk, a movie's decoder) is the job's: it hands the driver a source.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/vemra-render/io/image_files.h"
#include "tools/vemra-render/jobs/options.h"
#include "tools/vemra-render/jobs/outputs.h"
#include "tools/vemra-render/run/frame_pipeline.h"
#include "tools/vemra-render/run/notes.h"
#include "tools/vemra-render/run/progress.h"
#include "tools/vemra-render/run/work_plan.h"
#include "tools/vemra-render/session/effect_session.h"

namespace render {

/// One frame whose result goes to image files.
struct ImageFrame {
    std::string label;  ///< "frame 17", "file 2 (b.png)"; empty for a single image
    /// The file it comes from, named in notes and messages.
    std::string input;
    /// Which frame of `input` (from 0); -1: the input is expected to hold one.
    int frame_in_file = -1;
    std::size_t position = 0;  ///< from 1, among the frames the run was asked for
    OutputNames names;
    /// The output exists and stays as it is (--skip-existing); only the
    /// missing sheet is written.
    bool keep_output = false;
};

/// A frame's samples before the effect, as a source delivers them.
struct SourceSamples {
    ConstSamples samples;
    bool has_alpha = true;
    /// The file they were decoded from, when one: its sample type, other
    /// channels and parts, windows and metadata are kept in the output (its
    /// further parts with colour are rendered too). Null: the samples alone.
    const LoadedImage* file = nullptr;
    /// Without a file: the source's own type, where the samples are deeper
    /// (a 10-bit movie's frames arrive as 16-bit samples). Unset: theirs.
    std::optional<DataType> type = std::nullopt;
};

/// Where the frames come from.
struct ImageFrameSource {
    /// In frame order, one at a time: claims frame `index` for `slot` and
    /// says which it is in `frame`; false when there are no more frames.
    std::function<bool(long index, int slot, ImageFrame& frame)> take;
    /// On the frame's own thread: its samples. `loaded` is the slot's own
    /// decode buffer, kept from frame to frame, for a source that reads files.
    std::function<SourceSamples(const ImageFrame& frame, int slot, LoadedImage& loaded)> read;
    /// After `take`, in frame order: the bytes the frame will hold
    /// (FootprintBytes), from its own header, so that the frames in flight
    /// stay within --memory whatever each one's size; may be empty: frames
    /// are not weighed, and the plan's frames in flight alone bound them.
    std::function<std::uint64_t(const ImageFrame& frame)> weigh = {};
};

/// How a run of image frames ended.
struct ImageFramesResult {
    FramesResult frames;
    /// The frames taken, by index: every frame finished, failed or discarded.
    std::vector<ImageFrame> taken;
};

/// What the driver needs besides the source.
struct ImageFramesRun {
    const Options& options;
    EffectSession& session;
    const ParamValues& values;
    WorkPlan plan;
    Progress& progress;
    Notes& notes;
    OnFailure on_failure = OnFailure::kStop;
    /// For each frame that failed, in frame order, with --keep-going; may be empty.
    std::function<void(const ImageFrame& frame, const std::exception_ptr& error)> failed = {};
    /// Just before a frame's output is renamed into place, with the finished
    /// temporary (an in-place run's journal records it); may be empty.
    std::function<void(const ImageFrame& frame, const AtomicFile& output)> before_rename = {};
};

/// The plan `frames` make, for CheckPlan and the sweep of stale temporaries.
std::vector<PlannedOutput> PlanOf(const std::vector<ImageFrame>& frames);

/// The frame numbers of an input pattern: --frames, else those on disk.
/// Throws InputError when there are none.
std::vector<long> SequenceNumbers(const Options& options, const FramePattern& pattern);

/// The frame numbers of one input file of `count` frames (a multi-page
/// TIFF, an animation): --frames, else all of them. Throws UsageError for a
/// number outside 1 to `count`.
std::vector<long> FileFrameNumbers(const Options& options, const std::string& input, int count);

/// For an input of several frames (`count` as the file tells it) going to
/// the one file -o names: throws UsageError unless `chosen`, the frames
/// --frames picks, is one, and for --start-number, which numbers pattern files.
void RequireOneFrame(const Options& options, const std::string& input, const std::string& count,
                     std::size_t chosen);

/// Renders every frame `source` gives. Outputs are renamed into place in
/// frame order; after a failure the frames before it are kept (see
/// run/frame_pipeline.h). Never throws for a frame's failure: it is in the result.
ImageFramesResult RenderImageFrames(const ImageFramesRun& run, const ImageFrameSource& source);

}  // namespace render
