// The table of adapter sets and the run-time choice between them. Built for
// baseline x86-64 like the rest of the library: it only asks the processor
// what it supports, and never calls a set that it does not.
#include <iterator>

#include "color/adapters.h"
#include "color/adapters_avx2.h"

namespace {

bool Always() {
    return true;
}

/// AVX2 on the processor, with the OS saving the 256-bit registers (the
/// compiler's check covers both).
bool HasAvx2() {
    __builtin_cpu_init();  // a no-op once the library's start-up has run it
    return __builtin_cpu_supports("avx2");
}

constexpr AdapterSet kSets[] = {
    {"sse2", Always, ProcessPixelArgb8, ProcessPixelArgb16, ProcessPixelBgra8,
     ProcessPixelBgraFloat, ProcessRowBgra8},
    {"avx2", HasAvx2, vemra::avx2::ProcessPixelArgb8, vemra::avx2::ProcessPixelArgb16,
     vemra::avx2::ProcessPixelBgra8, vemra::avx2::ProcessPixelBgraFloat,
     vemra::avx2::ProcessRowBgra8},
};

}  // namespace

std::span<const AdapterSet> AdapterSets() {
    return kSets;
}

const AdapterSet& FastestAdapterSet() {
    for (auto set = std::rbegin(kSets); set != std::rend(kSets); ++set) {
        if (set->supported()) return *set;
    }
    return kSets[0];
}
