// Preloaded into vemra-render (LD_PRELOAD) to count the frame-sized
// allocations the tool's own code makes: operator new is replaced, and a call
// counts when it asks for at least VEMRA_ALLOC_MIN bytes and its caller (the
// return address, found with dladdr) lies in the main program, not in the
// image library or another shared library. At exit the count is written to
// the file VEMRA_ALLOC_REPORT. Sanitizer builds replace operator new
// themselves, so this runs in plain builds only.
#include <dlfcn.h>
#include <link.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "tests/counting_new.h"

namespace {

std::atomic<long> g_counted{0};

/// Where the main program is loaded (its lowest segment), and the threshold.
struct Watch {
    const void* base = nullptr;
    std::size_t min_bytes = 0;
    Watch() {
        if (const char* min = std::getenv("VEMRA_ALLOC_MIN")) {
            min_bytes = std::strtoull(min, nullptr, 10);
        }
        // The first object dl_iterate_phdr reports is the main program.
        dl_iterate_phdr(
            [](dl_phdr_info* info, std::size_t, void* data) -> int {
                ElfW(Addr) lowest = ~ElfW(Addr)(0);
                for (int i = 0; i < info->dlpi_phnum; ++i) {
                    if (info->dlpi_phdr[i].p_type == PT_LOAD &&
                        info->dlpi_phdr[i].p_vaddr < lowest) {
                        lowest = info->dlpi_phdr[i].p_vaddr;
                    }
                }
                *static_cast<const void**>(data) =
                    reinterpret_cast<const void*>(info->dlpi_addr + lowest);
                return 1;  // stop after the first
            },
            &base);
    }
};

const Watch& TheWatch() {
    static const Watch watch;
    return watch;
}

std::atomic<bool> g_ready{false};

void Count(std::size_t size, const void* caller) {
    if (!g_ready.load(std::memory_order_acquire)) return;
    const Watch& watch = TheWatch();
    if (watch.base == nullptr || watch.min_bytes == 0 || size < watch.min_bytes) return;
    Dl_info info{};
    if (dladdr(caller, &info) != 0 && info.dli_fbase == watch.base) g_counted.fetch_add(1);
}

__attribute__((constructor)) void Start() {
    TheWatch();
    g_ready.store(true, std::memory_order_release);
}

__attribute__((destructor)) void Report() {
    const char* path = std::getenv("VEMRA_ALLOC_REPORT");
    if (path == nullptr) return;
    if (std::FILE* file = std::fopen(path, "w")) {
        std::fprintf(file, "%ld\n", g_counted.load());
        std::fclose(file);
    }
}

}  // namespace

void* CountingAllocate(std::size_t size, const void* caller) noexcept {
    Count(size, caller);
    return std::malloc(size == 0 ? 1 : size);
}
