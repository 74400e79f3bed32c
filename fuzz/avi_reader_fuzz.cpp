// libFuzzer target: the AVI reader and decoder on arbitrary bytes. Every
// frame found is read and decoded; nothing may crash, overread or allocate
// more than the input justifies (-rss_limit_mb and -malloc_limit_mb hold
// the last).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "avifile/avi_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    auto reader = plat::avi::Reader::openMemory({data, size});
    if (!reader) return 0;
    std::vector<std::uint8_t> frame, dib;
    const std::size_t frames = reader->frameCount() < 8 ? reader->frameCount() : 8;
    for (std::size_t i = 0; i < frames; ++i) {
        reader->readFrame(i, frame);
        reader->decodeToDib24(i, dib);
    }
    return 0;
}
