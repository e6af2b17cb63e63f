// How the tool shares the machine: how many frames it works on at once and
// how many threads each frame's host iterates with, from the cores the
// process may run on (its CPU affinity, which a farm scheduler narrows) and
// a memory budget.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace render {

/// Most frames in flight: each may hold two temporary outputs (the result and
/// a compare sheet), and the interrupt's sweep holds 64.
inline constexpr int kMaxInFlight = 32;

/// CPUs this process may run on (at least 1).
int AvailableCores();

/// Half the memory the system reports available (MemAvailable), at least
/// 256 MiB: what frames in flight may take by default.
std::uint64_t DefaultMemoryBudget();

/// Parses a size such as "4G", "512M", "65536K" or a plain byte count
/// (powers of 1024); nullopt for anything else or zero.
std::optional<std::uint64_t> ParseByteSize(std::string_view text);

/// The frames worked on at once and each frame's iteration threads.
struct WorkPlan {
    int in_flight = 1;
    int iteration_threads = 1;
};

/// Plans `frames` frames (-1: not known, as for a pipe) on `threads` threads
/// in all. Frames in flight: `in_flight` when given, else one per thread; at
/// most the frame count, at most what `memory_budget` holds at
/// `bytes_per_frame` each, at most `max_in_flight`, and at least 1. The
/// threads are shared out between the frames in flight, at least one each,
/// so a single image iterates on every thread and a sequence on one per frame.
WorkPlan PlanWork(int threads, std::optional<int> in_flight, long frames,
                  std::uint64_t bytes_per_frame, std::uint64_t memory_budget, int max_in_flight);

}  // namespace render
