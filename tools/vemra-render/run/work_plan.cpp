#include "tools/vemra-render/run/work_plan.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string>

namespace render {

int AvailableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? int(online) : 1;
}

std::uint64_t DefaultMemoryBudget() {
    constexpr std::uint64_t kFloor = 256ull << 20;
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kib = 0;
    std::string unit;
    while (meminfo >> key >> kib >> unit) {
        if (key == "MemAvailable:") return std::max(kFloor, kib * 1024 / 2);
    }
    const long pages = ::sysconf(_SC_AVPHYS_PAGES);
    const long page = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && page > 0) {
        return std::max(kFloor, std::uint64_t(pages) * std::uint64_t(page) / 2);
    }
    return kFloor;
}

std::optional<std::uint64_t> ParseByteSize(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || value == 0) return std::nullopt;
    std::string_view unit(end, std::size_t(text.data() + text.size() - end));
    if (!unit.empty() && (unit.back() == 'B' || unit.back() == 'b')) unit.remove_suffix(1);
    int shift = 0;
    if (unit == "K" || unit == "k") {
        shift = 10;
    } else if (unit == "M" || unit == "m") {
        shift = 20;
    } else if (unit == "G" || unit == "g") {
        shift = 30;
    } else if (unit == "T" || unit == "t") {
        shift = 40;
    } else if (!unit.empty()) {
        return std::nullopt;
    }
    if (shift > 0 && value > (~std::uint64_t(0) >> shift)) return std::nullopt;
    return value << shift;
}

WorkPlan PlanWork(int threads, std::optional<int> in_flight, long frames,
                  std::uint64_t bytes_per_frame, std::uint64_t memory_budget, int max_in_flight) {
    threads = std::max(1, threads);
    long count = in_flight.value_or(threads);
    if (frames >= 0) count = std::min(count, std::max(1L, frames));
    if (bytes_per_frame > 0) {
        count =
            long(std::min<std::uint64_t>(std::uint64_t(count), memory_budget / bytes_per_frame));
    }
    count = std::clamp(count, 1L, long(std::max(1, max_in_flight)));
    WorkPlan plan;
    plan.in_flight = int(count);
    plan.iteration_threads = std::max(1, threads / plan.in_flight);
    return plan;
}

}  // namespace render
