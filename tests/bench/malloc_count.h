// Counts every heap allocation of the process (the program, the platform,
// the C++ library, Qt) by standing in for malloc and its siblings, so the
// benchmark can say how many blocks and bytes a stretch of work asked for.
#pragma once

#include <cstdint>

namespace bench {

struct HeapCount {
    std::uint64_t blocks = 0;
    std::uint64_t bytes = 0;
};

void startHeapCount();
HeapCount stopHeapCount();

}  // namespace bench
