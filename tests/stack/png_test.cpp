// The view's PNG: the file's layout for images of one and of many stored
// blocks, and nothing for rows shorter than the image (the program's run
// decodes a whole view with ffmpeg: tests/e2e/live_stack_test.cpp).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "stack/image.h"
#include "stack/png.h"

namespace noctil::stack {
namespace {

std::uint32_t big32(const std::vector<std::uint8_t> &b, std::size_t at) {
    return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 | std::uint32_t(b[at + 2]) << 8 | b[at + 3];
}

struct PngCase {
    const char *name;
    std::uint32_t width, height;
    std::size_t rowsShortBy;  // bytes fewer than the image's rows
    std::size_t fileBytes;    // 0: no file
};

// Raw rows are (3 w + 1) h bytes, in stored blocks of at most 65535 bytes
// of 5 bytes' header each: signature 8, IHDR 25, IDAT 12 + 2 + blocks + 4, IEND 12.
constexpr std::size_t fileOf(std::size_t raw) { return 8 + 25 + 12 + 2 + (raw + 65534) / 65535 * 5 + raw + 4 + 12; }

// clang-format off
const PngCase kCases[] = {
    {"OnePixel",             1,   1,   0, fileOf(4)},
    {"PaddedRows",           3,   2,   0, fileOf(20)},
    {"ExactlyOneBlock",      1456, 15,   0, fileOf(65535)},
    {"OneBytePastOneBlock",  1, 16384,   0, fileOf(65536)},
    {"ManyBlocks",           640, 480, 0, fileOf(1921 * 480)},
    {"RowsShortByOneByte",   3,   2,   1, 0},
    {"NoWidth",              0,   2,   0, 0},
};
// clang-format on

TEST(Png, LayoutOfTheFile) {
    for (const PngCase &c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> rows(dibRowBytes(c.width) * c.height - c.rowsShortBy);
        for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = std::uint8_t(i * 7);
        const std::vector<std::uint8_t> file = pngBytes(c.width, c.height, rows);
        ASSERT_EQ(file.size(), c.fileBytes);
        if (c.fileBytes == 0) continue;
        EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 8),
                  (std::vector<std::uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
        EXPECT_EQ(big32(file, 8), 13u);
        EXPECT_EQ(std::string(file.begin() + 12, file.begin() + 16), "IHDR");
        EXPECT_EQ(big32(file, 16), c.width);
        EXPECT_EQ(big32(file, 20), c.height);
        EXPECT_EQ(file[24], 8) << "bits a channel";
        EXPECT_EQ(file[25], 2) << "RGB";
        EXPECT_EQ(std::string(file.begin() + 37, file.begin() + 41), "IDAT");
        // The first row from the top is the DIB's last, its pixels R, G, B.
        const std::size_t firstRow = 41 + 2 + 5;
        EXPECT_EQ(file[firstRow], 0) << "no filter";
        const std::size_t topRow = dibRowBytes(c.width) * (c.height - 1);
        EXPECT_EQ(file[firstRow + 1], rows[topRow + 2]);
        EXPECT_EQ(file[firstRow + 3], rows[topRow + 0]);
        EXPECT_EQ(std::string(file.end() - 8, file.end() - 4), "IEND");
    }
}

}  // namespace
}  // namespace noctil::stack
