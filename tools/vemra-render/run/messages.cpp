#include "tools/vemra-render/run/messages.h"

#include <fmt/format.h>

#include <new>
#include <stdexcept>

namespace render {

namespace {

/// The length of the UTF-8 sequence `text` starts with when it is a valid
/// one of two to four bytes and no C1 control; 0 otherwise.
std::size_t PrintableSequence(std::string_view text) {
    const auto byte = [&](std::size_t i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    };
    const unsigned lead = byte(0);
    std::size_t length = 0;
    unsigned low = 0x80;  // the second byte's range, narrowed against overlong forms
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        if (lead == 0xC2) low = 0xA0;  // U+0080..U+009F: the C1 controls
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    }
    return length;
}

/// True when `text` reads as C++ code rather than words: the standard
/// library's messages name the function that threw.
bool NamesCode(std::string_view text) {
    return text.find("::") != std::string_view::npos ||
           text.find("_M_") != std::string_view::npos || text.rfind("std", 0) == 0 ||
           text.rfind("basic_", 0) == 0 || (text.rfind("sto", 0) == 0 && text.size() <= 6);
}

}  // namespace

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
            ++i;
        } else if (const std::size_t length = PrintableSequence(text.substr(i)); length > 0) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            switch (c) {
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    out += fmt::format("\\x{:02x}", c);
            }
            ++i;
        }
    }
    return out;
}

bool IsLibraryError(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return true;
    return NamesCode(error.what());
}

std::string ErrorText(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return "out of memory";
    if (!NamesCode(error.what())) return error.what();
    if (dynamic_cast<const std::length_error*>(&error) != nullptr) {
        return "a size too large to hold in memory";
    }
    return "an internal error of a library";
}

}  // namespace render
