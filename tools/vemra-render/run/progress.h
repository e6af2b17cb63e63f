// Progress on standard error while frames render: on a terminal, a line
// redrawn in place with frames done, frames per second and time left; or,
// when asked (--progress lines, for a farm manager's log), one line per
// tenth of the run, "progress: 120/240 frames", which any program can parse.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace render {

/// How progress shows, for every Progress the run makes.
enum class ProgressStyle {
    kBar,    ///< the redrawn line, on a terminal only
    kLines,  ///< a line per tenth of the frames (per frame for runs of fewer
             ///< than ten, every 25 frames when the total is unknown), anywhere
};
/// Sets the style of the run's progress; kBar unless set.
void SetProgressStyle(ProgressStyle style);

/// "progress: 120/240 frames" ("progress: 120 frames" with no total).
std::string ProgressRecord(long done, long total);

/// The progress text for `done` of `total` frames (total 0: unknown) after
/// `seconds`: "  12/240 frames  [####      ]  8.3 fps  0:27 left".
std::string ProgressLine(long done, long total, double seconds);

class Progress {
  public:
    /// Shown when `enabled`: as a bar when `stream` is a terminal, as
    /// records with ProgressStyle::kLines.
    Progress(long total, bool enabled, std::FILE* stream = stderr);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    /// Counts one more finished frame; redraws at most ten times a second.
    void FrameDone();
    /// Draws the last state and ends the line (also done by the destructor).
    void Finish();
    /// Clears the line so a message can be printed, redrawn on the next frame.
    void Clear();

  private:
    void Draw();
    void Put(const std::string& text);
    /// With ProgressStyle::kLines: prints the record when `done_` starts a
    /// new tenth of the run.
    void Record();

    long total_;
    long done_ = 0;
    bool shown_;
    bool records_;
    bool drawn_ = false;
    std::FILE* stream_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace render
