#include "output_format.h"

namespace noctil::camera {

OutputFormat outputFormat(std::int32_t width, std::int32_t height)
{
    const std::uint32_t rowBytes = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
    return {width, height, 24, rowBytes, rowBytes * static_cast<std::uint32_t>(height)};
}

}  // namespace noctil::camera
