#include "malloc_count.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <execinfo.h>
#include <unistd.h>

extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void *__libc_memalign(std::size_t, std::size_t);
}

namespace {
std::atomic<bool> counting{false};
std::atomic<std::uint64_t> blocks{0}, bytes{0};

// NOCTIL_BENCH_ALLOC_TRACE set: every counted allocation also writes its
// call stack to standard error (module and offset, for addr2line), to find
// where the blocks come from.
bool tracing = false;
thread_local bool inTrace = false;

void trace() {
    if (inTrace) return;
    inTrace = true;
    void *frames[24];
    const int n = backtrace(frames, 24);
    static const char mark[] = "-- allocation\n";
    (void)!write(2, mark, sizeof mark - 1);
    backtrace_symbols_fd(frames, n, 2);
    inTrace = false;
}

void note(std::size_t size) {
    if (!counting.load(std::memory_order_relaxed)) return;
    blocks.fetch_add(1, std::memory_order_relaxed);
    bytes.fetch_add(size, std::memory_order_relaxed);
    if (tracing) trace();
}
}  // namespace

namespace bench {
void startHeapCount() {
    if (std::getenv("NOCTIL_BENCH_ALLOC_TRACE")) {
        void *warm[2];
        backtrace(warm, 2);  // loads the unwinder now, not inside a counted allocation
        tracing = true;
    }
    blocks = 0;
    bytes = 0;
    counting = true;
}
HeapCount stopHeapCount() {
    counting = false;
    return {blocks.load(), bytes.load()};
}
}  // namespace bench

// The process's allocator entry points, each counted and passed to the C
// library's own. free() needs nothing: the C library's is used as it is.
extern "C" {
void *malloc(std::size_t size) {
    note(size);
    return __libc_malloc(size);
}
void *calloc(std::size_t n, std::size_t size) {
    note(n * size);
    return __libc_calloc(n, size);
}
void *realloc(void *p, std::size_t size) {
    note(size);
    return __libc_realloc(p, size);
}
void *memalign(std::size_t alignment, std::size_t size) {
    note(size);
    return __libc_memalign(alignment, size);
}
void *aligned_alloc(std::size_t alignment, std::size_t size) {
    note(size);
    return __libc_memalign(alignment, size);
}
int posix_memalign(void **out, std::size_t alignment, std::size_t size) {
    note(size);
    void *p = __libc_memalign(alignment, size);
    if (!p) return 12;  // ENOMEM
    *out = p;
    return 0;
}
}
