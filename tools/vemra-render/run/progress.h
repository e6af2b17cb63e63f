// A progress line on standard error while frames render: frames done, frames
// per second and time left. Shown only when standard error is a terminal.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace render {

/// The progress text for `done` of `total` frames (total 0: unknown) after
/// `seconds`: "  12/240 frames  [####      ]  8.3 fps  0:27 left".
std::string ProgressLine(long done, long total, double seconds);

class Progress {
  public:
    /// Shown when `enabled` and `stream` is a terminal.
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

    long total_;
    long done_ = 0;
    bool shown_;
    bool drawn_ = false;
    std::FILE* stream_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace render
