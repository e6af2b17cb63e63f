#include "tools/vemra-render/io/frame_pattern.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <system_error>

namespace render {

namespace fs = std::filesystem;

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

/// Parses all of `text` as a (possibly negative) decimal integer.
std::optional<long> ParseLong(std::string_view text) {
    long value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return value;
}

/// Parses one end of a frame range, refusing a number no frame name carries.
std::optional<long> ParseRangeEnd(std::string_view text) {
    const std::optional<long> number = ParseFrameNumber(text);
    if (!number) {
        std::string_view digits = text;
        if (!digits.empty() && digits[0] == '-') digits.remove_prefix(1);
        if (!digits.empty() && std::all_of(digits.begin(), digits.end(), IsDigit)) {
            throw PatternError(fmt::format("frame {}: {}", text, FrameNumberLimits()));
        }
    }
    return number;
}

}  // namespace

std::optional<FramePattern> FramePattern::Parse(std::string_view text) {
    FramePattern pattern;
    pattern.text_ = std::string(text);
    std::string literal;  // the text before the token, then after it
    bool found = false;
    const std::size_t name_start = [&] {
        const std::size_t slash = text.find_last_of('/');
        return slash == std::string_view::npos ? 0 : slash + 1;
    }();

    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        std::size_t token_length = 0;
        int width = 0;
        bool printf_style = false;
        if (c == '#') {
            while (i + token_length < text.size() && text[i + token_length] == '#') ++token_length;
            width = int(token_length);
        } else if (c == '%') {
            if (i + 1 < text.size() && text[i + 1] == '%') {
                literal += '%';
                i += 2;
                continue;
            }
            std::size_t j = i + 1;
            std::string digits;
            while (j < text.size() && IsDigit(text[j])) digits += text[j++];
            if (j >= text.size() || text[j] != 'd') {
                // Not a frame token: a percent sign in the name, e.g. "100%.png".
                literal += c;
                ++i;
                continue;
            }
            if (!digits.empty() && (digits[0] != '0' || digits.size() != 2)) {
                throw PatternError(fmt::format(
                    "\"{}\": bad frame token at \"{}\"; use %d, %0Nd (N a digit) or ####", text,
                    text.substr(i, std::min<std::size_t>(j + 1, text.size()) - i)));
            }
            width = digits.empty() ? 1 : digits[1] - '0';
            if (width == 0) width = 1;
            token_length = j + 1 - i;
            printf_style = true;
        } else {
            literal += c;
            ++i;
            continue;
        }
        if (found) {
            throw PatternError(fmt::format("\"{}\": more than one frame token", text));
        }
        if (i < name_start) {
            throw PatternError(fmt::format(
                "\"{}\": the frame token must be in the file name, not the folder", text));
        }
        found = true;
        pattern.prefix_ = literal;
        literal.clear();
        pattern.width_ = width;
        pattern.printf_style_ = printf_style;
        i += token_length;
    }
    if (!found) return std::nullopt;
    pattern.suffix_ = literal;
    return pattern;
}

std::string FramePattern::Format(long frame) const {
    const unsigned long magnitude =
        frame < 0 ? 0UL - static_cast<unsigned long>(frame) : static_cast<unsigned long>(frame);
    return fmt::format("{}{}{:0{}}{}", prefix_, frame < 0 ? "-" : "", magnitude, width_, suffix_);
}

std::optional<long> FramePattern::Match(std::string_view path) const {
    if (path.size() < prefix_.size() + suffix_.size()) return std::nullopt;
    if (path.substr(0, prefix_.size()) != prefix_) return std::nullopt;
    if (path.substr(path.size() - suffix_.size()) != suffix_) return std::nullopt;
    std::string_view number =
        path.substr(prefix_.size(), path.size() - prefix_.size() - suffix_.size());
    std::string_view digits = number;
    if (!digits.empty() && digits[0] == '-') digits.remove_prefix(1);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), IsDigit)) return std::nullopt;
    const std::optional<long> frame = ParseLong(number);
    // Only the name this pattern would write for that frame counts, so
    // "shot.1.exr" is not frame 1 of "shot.####.exr".
    if (!frame || Format(*frame) != path) return std::nullopt;
    return frame;
}

std::vector<long> FramePattern::FindExisting() const {
    const fs::path prefix_path(prefix_);
    fs::path directory = prefix_path.parent_path();
    const bool prefix_ends_in_slash = !prefix_.empty() && prefix_.back() == '/';
    if (prefix_ends_in_slash) directory = fs::path(prefix_.substr(0, prefix_.size() - 1));
    std::vector<long> frames;
    std::error_code error;
    fs::directory_iterator it(directory.empty() ? fs::path(".") : directory, error);
    if (error) return frames;
    for (const fs::directory_entry& entry : it) {
        // Rebuild the name as the pattern spells it, so a relative pattern
        // matches without "./" in front.
        const std::string name = entry.path().filename().string();
        std::string spelled;
        if (prefix_ends_in_slash) {
            spelled = prefix_ + name;
        } else if (directory.empty()) {
            spelled = name;
        } else {
            spelled = (directory / name).string();
        }
        if (const std::optional<long> frame = Match(spelled)) frames.push_back(*frame);
    }
    std::sort(frames.begin(), frames.end());
    return frames;
}

std::string FramePattern::CanonicalName() const {
    const std::size_t slash = prefix_.find_last_of('/');
    const std::string name = slash == std::string::npos ? prefix_ : prefix_.substr(slash + 1);
    return name + std::string(std::size_t(width_), '#') + suffix_;
}

FramePattern FramePattern::WithStemSuffix(std::string_view suffix) const {
    FramePattern result = *this;
    std::size_t stem_end = prefix_.size();
    const std::size_t name_start =
        prefix_.find_last_of('/') == std::string::npos ? 0 : prefix_.find_last_of('/') + 1;
    while (stem_end > name_start && (prefix_[stem_end - 1] == '.' || prefix_[stem_end - 1] == '_' ||
                                     prefix_[stem_end - 1] == '-')) {
        --stem_end;
    }
    result.prefix_ = prefix_.substr(0, stem_end) + std::string(suffix) + prefix_.substr(stem_end);
    result.text_ = result.Format(0);  // only for messages: the text with frame 0
    return result;
}

std::vector<long> ParseFrameRange(std::string_view text, std::size_t limit) {
    std::vector<long> frames;
    if (text.empty()) throw PatternError("empty frame range; give frames as 1-240 or 1,5,9-12");
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) comma = text.size();
        const std::string_view item = text.substr(start, comma - start);
        // The dash between the ends is the first one after the first character,
        // so "-5--1" reads as -5 to -1.
        const std::size_t dash = item.size() > 1 ? item.find('-', 1) : std::string_view::npos;
        const std::optional<long> first = ParseRangeEnd(item.substr(0, dash));
        const std::optional<long> last =
            dash == std::string_view::npos ? first : ParseRangeEnd(item.substr(dash + 1));
        if (!first || !last) {
            throw PatternError(fmt::format(
                "bad frame range \"{}\" at \"{}\"; give frames as 1-240 or 1,5,9-12", text, item));
        }
        if (*last < *first) {
            throw PatternError(fmt::format("frame range \"{}\" ends before it starts", item));
        }
        // Unsigned arithmetic: the span of any two longs fits without overflow.
        const std::size_t span = std::size_t(*last) - std::size_t(*first);
        if (span >= limit - std::min(limit, frames.size())) {
            throw PatternError(
                fmt::format("frame range \"{}\" holds more than {} frames", text, limit));
        }
        // Counted, not compared with the end: the end may be the largest long.
        for (std::size_t k = 0; k <= span; ++k) frames.push_back(*first + long(k));
        start = comma + 1;
    }
    return frames;
}

std::optional<long> ParseFrameNumber(std::string_view text) {
    const std::optional<long> number = ParseLong(text);
    if (!number || *number < -kMaxFrameNumber) return std::nullopt;
    return number;
}

std::string FrameNumberLimits() {
    return fmt::format("frame numbers go from {} to {}", -kMaxFrameNumber, kMaxFrameNumber);
}

long NumberOfFrame(long start, long k) {
    long number = 0;
    if (__builtin_add_overflow(start, k - 1, &number)) {
        throw PatternError(fmt::format(
            "--start-number {}: frame {} would be numbered past {}, the largest frame number",
            start, k, kMaxFrameNumber));
    }
    return number;
}

std::string InsertBeforeExtension(const std::string& path, std::string_view suffix) {
    const fs::path p(path);
    const std::string extension = p.extension().string();
    return path.substr(0, path.size() - extension.size()) + std::string(suffix) + extension;
}

}  // namespace render
