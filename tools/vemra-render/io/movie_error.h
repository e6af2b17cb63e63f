// What the movie stages throw: one line naming the file and the cause.
#pragma once

#include <stdexcept>
#include <string>

#include "tools/vemra-render/run/refusal.h"

namespace render {

/// Thrown when a movie cannot be read or written; the message is one line
/// naming the file and the cause.
class MovieError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// A movie or a movie output the tool will not take, told before any frame:
/// frames above --max-pixels, an encoder or pixel format that does not exist
/// or does not fit the container. A refusal.
class MovieRefused : public MovieError, public Refusal {
  public:
    using MovieError::MovieError;
};

/// What the demuxer finds wrong with the file as it reads it (a read error,
/// a damaged packet, a file cut short): the file and the cause apart, so
/// that whoever knows which frame was being read can say so.
class DemuxError : public MovieError {
  public:
    DemuxError(const std::string& file, const std::string& cause)
        : MovieError(file + ": " + cause), file_(file), cause_(cause) {}
    const std::string& file() const { return file_; }
    const std::string& cause() const { return cause_; }

  private:
    std::string file_;
    std::string cause_;
};

}  // namespace render
