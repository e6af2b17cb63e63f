#include "tools/vemra-render/run/interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "tools/vemra-render/run/quiet_stderr.h"

namespace render {

namespace {

constexpr std::size_t kPathBytes = 4096;
enum SlotState : int { kFree = 0, kInUse = 1 };

std::mutex output_files_mutex;
std::array<std::atomic<int>, kMaxTemporaries> slot_state{};
std::array<std::array<char, kPathBytes>, kMaxTemporaries> slot_path{};
std::atomic<long> frames_finished{0};

sigset_t InterruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal_number);
    return set;
}

std::string Number(long value) {
    return std::to_string(value);
}

/// Ends the process by `signal_number` itself, with its default action, so
/// that the parent sees the death by the signal (a shell loop or make then
/// stops on Ctrl-C, as it does for other programs).
[[noreturn]] void DieBy(int signal_number) {
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigaction(signal_number, &default_action, nullptr);
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);
    ::raise(signal_number);
    ::_exit(128 + signal_number);  // only if the signal did not end the process
}

/// The signal thread: waits for the first signal, stops the writers, sweeps.
void WaitForInterrupt() {
    const sigset_t set = InterruptSignals();
    int signal_number = 0;
    while (sigwait(&set, &signal_number) != 0) {
    }
    // Taken for good: no temporary is created, opened or renamed from now on.
    output_files_mutex.lock();
    for (std::size_t i = 0; i < slot_state.size(); ++i) {
        if (slot_state[i].load(std::memory_order_acquire) == kInUse) {
            ::unlink(slot_path[i].data());
        }
    }
    WriteMessage("\nvemra-render: interrupted by signal " + Number(signal_number) + "; " +
                 Number(frames_finished.load()) +
                 " finished frame(s) kept, the unfinished output removed\n");
    DieBy(signal_number);
}

}  // namespace

void StartInterruptThread() {
    const sigset_t set = InterruptSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
    std::thread(WaitForInterrupt).detach();
}

std::unique_lock<std::mutex> LockOutputFiles() {
    return std::unique_lock(output_files_mutex);
}

int RegisterTemporary(const std::string& path) {
    if (path.size() >= kPathBytes) {
        throw std::length_error("temporary file name too long: " + path);
    }
    for (std::size_t i = 0; i < slot_state.size(); ++i) {
        if (slot_state[i].load() == kFree) {
            std::memcpy(slot_path[i].data(), path.c_str(), path.size() + 1);
            slot_state[i].store(kInUse, std::memory_order_release);
            return int(i);
        }
    }
    throw std::length_error("too many temporary files open at once");
}

void UnregisterTemporary(int slot) {
    if (slot >= 0 && slot < kMaxTemporaries) slot_state[std::size_t(slot)].store(kFree);
}

void SetFramesFinished(long frames) {
    frames_finished.store(frames);
}

}  // namespace render
