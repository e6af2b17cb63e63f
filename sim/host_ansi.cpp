// The ANSI string callbacks, in utils and in the ANSI suite: they write no
// further than the buffer the effect can only mean, and record any text cut
// short.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "sim/host_state.h"

namespace sim {

A_long Sprintf(char* buffer, const char* format, ...) {
    Call call(Service::kAnsiSprintf);
    if (buffer == nullptr || format == nullptr) {
        call.Violation("ansi.sprintf with a null buffer or format");
        return 0;
    }
    // The one buffer the effect formats into is return_msg: never write
    // past its 256 bytes, whatever the text.
    std::va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, kMessageBytes, format, args);
    va_end(args);
    if (length < 0) {
        buffer[0] = '\0';
        call.Violation("ansi.sprintf: the format could not be applied");
        return 0;
    }
    if (std::size_t(length) >= kMessageBytes) {
        call.Violation("ansi.sprintf: text of " + std::to_string(length) +
                       " characters truncated to " + std::to_string(kMessageBytes - 1));
        return A_long(kMessageBytes - 1);
    }
    return length;
}

char* Strcpy(char* destination, const char* source) {
    Call call(Service::kAnsiStrcpy);
    if (destination == nullptr || source == nullptr) {
        call.Violation("ansi.strcpy with a null destination or source");
        return destination;
    }
    // The one field the effect copies into is a parameter name of 32 bytes.
    const std::size_t length = std::strlen(source);
    const std::size_t kept = std::min(length, kNameBytes - 1);
    std::memmove(destination, source, kept);
    destination[kept] = '\0';
    if (kept < length) {
        call.Violation("ansi.strcpy: \"" + std::string(source) + "\" (" + std::to_string(length) +
                       " characters) truncated to " + std::to_string(kNameBytes - 1));
    }
    return destination;
}

}  // namespace sim
