#include "alloc_counter.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool counting = false;
thread_local std::size_t allocations = 0;
}  // namespace

namespace alloc_counter {
void start() {
    allocations = 0;
    counting = true;
}
std::size_t stop() {
    counting = false;
    return allocations;
}
std::size_t counted() { return allocations; }
void note() {
    if (counting) ++allocations;
}
}  // namespace alloc_counter

void *operator new(std::size_t size) {
    alloc_counter::note();
    if (void *p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return operator new(size); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
