// Pulled in only by test programs linked with -Wl,--wrap=malloc.
#include <cstddef>

#include "alloc_counter.h"

extern "C" void *__real_malloc(std::size_t size);
extern "C" void *__wrap_malloc(std::size_t size) {
    alloc_counter::note();
    return __real_malloc(size);
}
