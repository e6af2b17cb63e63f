#include "tools/vemra-render/run/progress.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>

#include "tools/vemra-render/run/quiet_stderr.h"

namespace render {

namespace {

std::atomic<ProgressStyle> g_style{ProgressStyle::kBar};

}  // namespace

void SetProgressStyle(ProgressStyle style) {
    g_style = style;
}

std::string ProgressRecord(long done, long total) {
    return total > 0 ? fmt::format("progress: {}/{} frames", done, total)
                     : fmt::format("progress: {} frames", done);
}

std::string ProgressLine(long done, long total, double seconds) {
    const double fps = seconds > 0.0 ? double(done) / seconds : 0.0;
    if (total <= 0) return fmt::format("  {} frames  {:.1f} fps", done, fps);
    constexpr int kBar = 24;
    const int filled = int(std::clamp(double(done) / double(total), 0.0, 1.0) * kBar);
    std::string line = fmt::format("  {}/{} frames  [{}{}]  {:.1f} fps", done, total,
                                   std::string(std::size_t(filled), '#'),
                                   std::string(std::size_t(kBar - filled), ' '), fps);
    if (fps > 0.0 && done < total) {
        const long left = long(std::ceil(double(total - done) / fps));
        line += fmt::format("  {}:{:02} left", left / 60, left % 60);
    }
    return line;
}

Progress::Progress(long total, bool enabled, std::FILE* stream)
    : total_(total),
      shown_(enabled && g_style != ProgressStyle::kLines && ::isatty(::fileno(stream)) != 0),
      records_(enabled && g_style == ProgressStyle::kLines),
      stream_(stream),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_) {}

Progress::~Progress() {
    Finish();
}

void Progress::FrameDone() {
    ++done_;
    Record();
    const auto now = std::chrono::steady_clock::now();
    if (now - last_draw_ >= std::chrono::milliseconds(100) || done_ == total_) {
        last_draw_ = now;
        Draw();
    }
}

void Progress::Record() {
    if (!records_) return;
    const bool due = total_ <= 0   ? done_ % 25 == 0
                     : total_ < 10 ? true
                                   : done_ * 10 / total_ != (done_ - 1) * 10 / total_;
    if (due) WriteMessage(ProgressRecord(done_, total_) + "\n");
}

void Progress::Put(const std::string& text) {
    if (stream_ == stderr) {
        WriteTerminal(text);  // reaches the terminal while a decoder quiets standard error
        return;
    }
    std::fputs(text.c_str(), stream_);
    std::fflush(stream_);
}

void Progress::Draw() {
    if (!shown_) return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    Put(fmt::format("\r\033[K{}", ProgressLine(done_, total_, seconds)));
    drawn_ = true;
}

void Progress::Clear() {
    if (shown_ && drawn_) {
        Put("\r\033[K");
        drawn_ = false;
    }
}

void Progress::Finish() {
    if (!shown_) return;
    if (done_ > 0) {
        Draw();
        Put("\n");
    }
    shown_ = false;
}

}  // namespace render
