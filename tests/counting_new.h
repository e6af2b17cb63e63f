// The global operator new and delete replaced, for tests that count who
// allocates: every operator new passes the size and its caller's address
// (the return address, for dladdr) to CountingAllocate, which the including
// file defines and which takes the memory from malloc. Include it in one
// source file of a program or a preloaded library.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

/// Defined by the includer: counts what it wants to, then returns malloc's
/// memory (or nullptr, which the throwing forms turn into std::bad_alloc).
void* CountingAllocate(std::size_t size, const void* caller) noexcept;

namespace counting_new {
inline void* OrThrow(void* p) {
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
}  // namespace counting_new

// noinline: the return address must be the caller's, not this file's.
__attribute__((noinline)) void* operator new(std::size_t size) {
    return counting_new::OrThrow(CountingAllocate(size, __builtin_return_address(0)));
}
__attribute__((noinline)) void* operator new[](std::size_t size) {
    return counting_new::OrThrow(CountingAllocate(size, __builtin_return_address(0)));
}
__attribute__((noinline)) void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return CountingAllocate(size, __builtin_return_address(0));
}
__attribute__((noinline)) void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return CountingAllocate(size, __builtin_return_address(0));
}
// These deletes free what the operator new above took from malloc; gcc cannot
// see that pairing and warns.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop
