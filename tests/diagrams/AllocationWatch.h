#pragma once
// Watches the size of single heap allocations (malloc, calloc, realloc and so
// operator new and every Qt container) of the whole test process, so a test
// can state that no allocation above a fixed size happened while it ran.

#include <cstddef>

namespace AllocationWatch {

// Starts watching from zero.
void Start();
// Stops watching and returns the largest single request seen since Start.
size_t Stop();

}  // namespace AllocationWatch
