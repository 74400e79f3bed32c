// Counts heap allocations made through operator new while counting is on,
// to show that a path (a port write, a frame delivery) never allocates.
// A test program linked with -Wl,--wrap=malloc also counts the direct
// malloc calls of the code it links statically (the program's image blocks).
// The replacement operators live in their own translation unit so the
// compiler never sees them inlined beside the allocations they count.
#pragma once

#include <cstddef>

namespace alloc_counter {

void start();           // zero the count and start counting
std::size_t stop();     // stop counting; returns the allocations seen
std::size_t counted();  // allocations seen so far
void note();            // counts one allocation while counting is on

// Counts for the lifetime of the scope.
class Scope {
public:
    Scope() { start(); }
    ~Scope() { stop(); }
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;
    std::size_t count() const { return counted(); }
};

}  // namespace alloc_counter
