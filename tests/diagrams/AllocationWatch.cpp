#include "tests/diagrams/AllocationWatch.h"

#include <atomic>

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer owns malloc and checks every allocation itself; the watch
// then sees nothing and Stop() returns 0.
#define BRASKON_NO_ALLOCATION_WATCH
#endif

#ifndef BRASKON_NO_ALLOCATION_WATCH
// glibc's own allocator entry points; the definitions below take the place of
// malloc, calloc and realloc for the whole process and pass every call on.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
}
#endif

namespace {

std::atomic<bool> watching{false};
std::atomic<size_t> largest{0};

inline void Note(size_t size)
{
    size_t seen = largest.load(std::memory_order_relaxed);
    while (watching.load(std::memory_order_relaxed) && size > seen
           && !largest.compare_exchange_weak(seen, size, std::memory_order_relaxed))
        continue;
}

}  // namespace

#ifndef BRASKON_NO_ALLOCATION_WATCH
extern "C" void* malloc(size_t size)
{
    Note(size);
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size)
{
    Note(count * size);
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* pointer, size_t size)
{
    Note(size);
    return __libc_realloc(pointer, size);
}
#endif

void AllocationWatch::Start()
{
    largest = 0;
    watching = true;
}

size_t AllocationWatch::Stop()
{
    watching = false;
    return largest.load();
}
