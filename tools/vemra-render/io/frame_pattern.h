// Frame-numbered file names: "shot.####.exr" (one '#' a digit, zero-padded
// to their count, longer numbers written in full) and printf-style
// "shot.%04d.exr" or "shot.%d.exr"; and frame ranges such as "1-240".
#pragma once

#include <filesystem>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vemra-render/run/refusal.h"

namespace render {

/// Thrown for a malformed pattern or frame range; the message says what is
/// wrong. A refusal: the request names no frames the tool can take.
class PatternError : public std::runtime_error, public Refusal {
  public:
    using std::runtime_error::runtime_error;
};

/// The largest frame number a frame file name carries (its digits are read
/// into a long); the smallest is its negative. --frames and --start-number
/// are held to them.
inline constexpr long kMaxFrameNumber = std::numeric_limits<long>::max();

class FramePattern {
  public:
    /// Parses `text`. Returns nullopt when it holds no frame token (a plain
    /// file name). Throws PatternError for a pattern with more than one
    /// token, a token in the folder part, or a %-token other than %d and
    /// %0Nd (N a digit), e.g. "%4d". A percent sign that starts no token
    /// ("100%.png") and "%%" stand for a percent sign.
    static std::optional<FramePattern> Parse(std::string_view text);

    /// The file name of `frame`: the number zero-padded to the token's width
    /// (negative frames get a leading minus before the padded digits).
    std::string Format(long frame) const;
    /// The frame number if `path` is a name this pattern produces (any number
    /// of digits at least the token's width, or exactly the padded form),
    /// nullopt otherwise.
    std::optional<long> Match(std::string_view path) const;

    /// Frames that exist on disk, in increasing order: the files in the
    /// pattern's directory whose names the pattern matches.
    std::vector<long> FindExisting() const;

    /// The pattern with `suffix` added to the part before the frame token,
    /// separators before the token kept after it: "shot.####.exr" with
    /// "-compare" gives "shot-compare.####.exr".
    FramePattern WithStemSuffix(std::string_view suffix) const;

    /// The file name part of the pattern in one spelling for every way of
    /// writing it: the token as '#'s, "shot.%04d.exr" and "shot.####.exr"
    /// both "shot.####.exr".
    std::string CanonicalName() const;

    const std::string& text() const { return text_; }
    int width() const { return width_; }

  private:
    std::string text_;    ///< as given
    std::string prefix_;  ///< everything before the token ("%%" already unescaped)
    std::string suffix_;  ///< everything after it
    int width_ = 1;       ///< minimum digits
    bool printf_style_ = false;
};

/// Parses a frame list: "N", "A-B", and several of them separated by commas
/// ("1-10,20,30-32"); negative numbers are allowed ("-5--1"). The frames come
/// in the order given. Throws PatternError for an empty list, a malformed
/// entry, a number beyond kMaxFrameNumber either way, an end before its
/// start or more than `limit` frames in all.
std::vector<long> ParseFrameRange(std::string_view text, std::size_t limit = 10'000'000);

/// Parses all of `text` as one frame number ("1001", "-5"); nullopt for
/// anything else, and for a number beyond kMaxFrameNumber either way.
std::optional<long> ParseFrameNumber(std::string_view text);

/// "frame numbers go from -N to N", for messages refusing a number.
std::string FrameNumberLimits();

/// The file number of frame `k` (from 1) of a file whose first frame is
/// numbered `start` (--start-number): start + k - 1. Throws PatternError
/// when that would pass kMaxFrameNumber.
long NumberOfFrame(long start, long k);

/// `path` with `suffix` inserted before its extension: "a/b.png" -> "a/b-compare.png".
std::string InsertBeforeExtension(const std::string& path, std::string_view suffix);

}  // namespace render
