#pragma once

#include <cstddef>

namespace vek::test {

// Makes the next allocation of exactly size bytes, on any thread, throw std::bad_alloc.
void failNextAllocationOf(std::size_t size);

// Descriptors this process holds now.
int openDescriptorCount();

}  // namespace vek::test
