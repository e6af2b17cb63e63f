#include "sim/render/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <stdexcept>

namespace render {

namespace {

// The handler may run on any thread at any moment, so the registry is fixed
// storage and lock-free atomics: a slot's path is written before its state
// turns to kInUse, and the handler reads only slots in that state.
constexpr int kSlots = 16;
constexpr std::size_t kPathBytes = 4096;
enum SlotState : int { kFree = 0, kClaimed = 1, kInUse = 2 };

std::array<std::atomic<int>, kSlots> slot_state{};
std::array<std::array<char, kPathBytes>, kSlots> slot_path{};
std::atomic<long> frames_finished{0};
std::atomic<int> message_fd{STDERR_FILENO};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<long>::is_always_lock_free);

void WriteAll(const char* text, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(message_fd.load(), text, length);
        if (written <= 0) return;
        text += written;
        length -= std::size_t(written);
    }
}

void WriteText(const char* text) {
    WriteAll(text, std::strlen(text));
}

void WriteNumber(long value) {
    char digits[24];
    int at = int(sizeof digits);
    unsigned long magnitude =
        value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
        digits[--at] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0 && at > 1);
    if (value < 0) digits[--at] = '-';
    WriteAll(digits + at, sizeof digits - std::size_t(at));
}

extern "C" void OnInterrupt(int signal_number) {
    for (int i = 0; i < kSlots; ++i) {
        if (slot_state[std::size_t(i)].load(std::memory_order_acquire) == kInUse) {
            ::unlink(slot_path[std::size_t(i)].data());
        }
    }
    WriteText("\nvemra-render: interrupted by signal ");
    WriteNumber(signal_number);
    WriteText("; ");
    WriteNumber(frames_finished.load());
    WriteText(" finished frame(s) kept, the unfinished output removed\n");
    ::_exit(128 + signal_number);
}

}  // namespace

void InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigfillset(&action.sa_mask);  // one handler at a time
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
}

int RegisterTemporary(const std::string& path) {
    if (path.size() >= kPathBytes) {
        throw std::length_error("temporary file name too long: " + path);
    }
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (slot_state[std::size_t(i)].compare_exchange_strong(expected, kClaimed)) {
            std::memcpy(slot_path[std::size_t(i)].data(), path.c_str(), path.size() + 1);
            slot_state[std::size_t(i)].store(kInUse, std::memory_order_release);
            return i;
        }
    }
    throw std::length_error("too many temporary files open at once");
}

void UnregisterTemporary(int slot) {
    if (slot >= 0 && slot < kSlots) slot_state[std::size_t(slot)].store(kFree);
}

void SetFramesFinished(long frames) {
    frames_finished.store(frames);
}

int SetInterruptMessageFd(int fd) {
    return message_fd.exchange(fd);
}

}  // namespace render
