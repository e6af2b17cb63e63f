// What a message line may carry: text from outside the tool (file names,
// a library's error text) shown with its control bytes escaped, and the
// standard library's own exceptions told in words rather than by their
// C++ names.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace render {

/// `text` with every byte a terminal would act on escaped: line feed,
/// carriage return and tab as \n, \r and \t, other control bytes, DEL, the
/// C1 controls and bytes that are not UTF-8 as \xHH. Valid UTF-8 letters
/// stay as they are. The result holds no line break and no escape sequence.
std::string Printable(std::string_view text);

/// The cause `error` tells, for a message: its own text, except for the
/// standard library's exceptions, whose texts name C++ code
/// ("std::bad_alloc", "vector::_M_default_append"): "out of memory", "a size
/// too large to hold in memory", or "an internal error of a library".
std::string ErrorText(const std::exception& error);

/// True when ErrorText replaces the text of `error`: the error comes from
/// the standard library, and its message names no file.
bool IsLibraryError(const std::exception& error);

}  // namespace render
