// The images' format: 24-bit rows padded to four bytes.
#include <gtest/gtest.h>

#include "camera/output_format.h"

namespace {

struct FormatCase {
    std::int32_t width, height;
    std::uint32_t rowBytes, imageBytes;
};

// clang-format off
const FormatCase kFormats[] = {
    {640, 480, 1920, 921600},
    {720, 576, 2160, 1244160},
    {16,  8,   48,   384},
    {17,  3,   52,   156},   // 51 bytes padded to 52
    {1,   1,   4,    4},
    {2,   5,   8,    40},    // 6 bytes padded to 8
    {0,   0,   0,    0},
};
// clang-format on

TEST(OutputFormat, RowsPaddedToFourBytes)
{
    for (const FormatCase &c : kFormats) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
        const noctil::camera::OutputFormat format = noctil::camera::outputFormat(c.width, c.height);
        EXPECT_EQ(format.width, c.width);
        EXPECT_EQ(format.height, c.height);
        EXPECT_EQ(format.bitCount, 24);
        EXPECT_EQ(format.rowBytes, c.rowBytes);
        EXPECT_EQ(format.imageBytes, c.imageBytes);
    }
}

}  // namespace
