// Replaces the global allocation functions of the serial tests, so that a test can make one
// allocation fail. Every replaced form allocates with malloc and frees with free, so allocations
// pair up whichever form the program or a sanitizer's runtime uses.
#include "FailingAllocation.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>

namespace vek::test {

namespace {
std::atomic<std::size_t> failingSize{0};

void* allocate(std::size_t size) {
    std::size_t expected = size;
    if (size != 0 && failingSize.compare_exchange_strong(expected, 0))
        return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

void* allocateOrThrow(std::size_t size) {
    if (void* p = allocate(size))
        return p;
    throw std::bad_alloc();
}
}  // namespace

void failNextAllocationOf(std::size_t size) {
    failingSize = size;
}

int openDescriptorCount() {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return int(std::distance(begin(fds), end(fds))) - 1;  // the iterator's own
}

}  // namespace vek::test

void* operator new(std::size_t size) {
    return vek::test::allocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return vek::test::allocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return vek::test::allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return vek::test::allocate(size);
}
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
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
