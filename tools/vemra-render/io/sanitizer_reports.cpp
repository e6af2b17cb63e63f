#include "tools/vemra-render/io/sanitizer_reports.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace render {

namespace {

/// GCC links UndefinedBehaviorSanitizer as a library of its own beside
/// AddressSanitizer's, and its call that sets its report file from
/// log_path binds to AddressSanitizer's function of the same name: its
/// reports go to standard error whatever UBSAN_OPTIONS says, and are lost
/// while the tool silences it. This gives UBSAN_OPTIONS's log_path to the
/// library's own function, at start-up.
__attribute__((constructor)) void SendUbsanReportsToLogPath() {
    const char* options = std::getenv("UBSAN_OPTIONS");
    const char* at = options != nullptr ? std::strstr(options, "log_path=") : nullptr;
    if (at == nullptr) return;
    at += std::strlen("log_path=");
    const std::string path(at, std::strcspn(at, ":"));
    void* ubsan = ::dlopen("libubsan.so.1", RTLD_NOW | RTLD_NOLOAD);
    if (ubsan == nullptr) return;  // clang: one runtime, which reads log_path itself
    using SetReportPath = void (*)(const char*);
    const auto set = reinterpret_cast<SetReportPath>(::dlsym(ubsan, "__sanitizer_set_report_path"));
    if (set != nullptr) set(path.c_str());
    ::dlclose(ubsan);
}

}  // namespace

void RaiseSanitizerReportForTest() {
    const char* kind = std::getenv("VEMRA_TEST_RAISE_SANITIZER_REPORT");
    if (kind == nullptr) return;
    if (std::strcmp(kind, "address") == 0) {
        std::vector<int> block(1);
        volatile const int* past_end = block.data() + 1;
        static_cast<void>(*past_end);
    } else if (std::strcmp(kind, "undefined") == 0) {
        volatile int largest = 0x7FFFFFFF;
        largest = largest + 1;
    }
}

}  // namespace render
