// Reading the final image back from an AVI file into lastImage.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "avifile/avi_writer.h"
#include "files/paths.h"
#include "readout_test_support.h"

namespace {

constexpr LONG kWidth = 8, kHeight = 6;
constexpr size_t kStride = 24;  // 8 pixels x 3 bytes

// Writes a 24-bit AVI of 8 x 6 frames, frame n filled with values[n].
void WriteAvi(const char *name, std::initializer_list<BYTE> values)
{
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = kWidth;
    header.biHeight = kHeight;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = kStride * kHeight;
    plat::avi::StreamFormat format;
    format.format.assign((const std::uint8_t *)&header, (const std::uint8_t *)&header + sizeof header);
    auto writer = plat::avi::Writer::create(plat::nativePath(name), format);
    ASSERT_TRUE(writer);
    for (BYTE value : values) {
        std::vector<std::uint8_t> frame(kStride * kHeight, value);
        ASSERT_TRUE(writer->append(frame));
    }
    ASSERT_TRUE(writer->finish());
}

std::vector<BYTE> Rows(PackedDib *dib)
{
    BYTE *bits = PackedDibBits(dib);
    return std::vector<BYTE>(bits, bits + kStride * kHeight);
}

class FinalImage : public ::testing::Test {
protected:
    noctil_test::ProgramSession program;
};

TEST_F(FinalImage, FrameZeroBecomesTheImageAndItsRowsArePublished)
{
    WriteAvi("C:\\frames.avi", {10, 20});
    LoadFrameFromAvi("C:\\frames.avi", &app.lastImage);
    ASSERT_NE(app.lastImage, nullptr);
    EXPECT_EQ(app.lastImage->biWidth, kWidth);
    EXPECT_EQ(app.lastImage->biHeight, kHeight);
    EXPECT_EQ(app.lastImage->biBitCount, 24);
    EXPECT_EQ(Rows(app.lastImage), std::vector<BYTE>(kStride * kHeight, 10));
    EXPECT_EQ(app.lastImageBits, PackedDibBits(app.lastImage)) << "current without a repaint";
}

TEST_F(FinalImage, AFileThatCannotBeReadLeavesTheImage)
{
    WriteAvi("C:\\good.avi", {77});
    LoadFrameFromAvi("C:\\good.avi", &app.lastImage);
    PackedDib *image = app.lastImage;
    BYTE *bits = app.lastImageBits;
    ASSERT_NE(image, nullptr);

    std::ofstream(plat::nativePath("C:\\empty.avi"));
    std::ofstream(plat::nativePath("C:\\junk.avi")) << "RIFF\x10\0\0\0AVI LIST junk that is not a header";
    WriteAvi("C:\\noframes.avi", {});
    for (const char *name : {"C:\\missing.avi", "C:\\empty.avi", "C:\\junk.avi", "C:\\noframes.avi"}) {
        SCOPED_TRACE(name);
        LoadFrameFromAvi(name, &app.lastImage);
        EXPECT_EQ(app.lastImage, image);
        EXPECT_EQ(app.lastImageBits, bits);
        EXPECT_EQ(Rows(app.lastImage), std::vector<BYTE>(kStride * kHeight, 77));
    }
}

TEST_F(FinalImage, AReplacedImageTakesTheRowLocationWithIt)
{
    WriteAvi("C:\\a.avi", {1});
    WriteAvi("C:\\b.avi", {2});
    LoadFrameFromAvi("C:\\a.avi", &app.lastImage);
    BYTE *staleBits = app.lastImageBits;
    LoadFrameFromAvi("C:\\b.avi", &app.lastImage);
    EXPECT_NE(app.lastImageBits, staleBits);
    EXPECT_EQ(app.lastImageBits, PackedDibBits(app.lastImage));
    // Reading the published rows is reading the new image (ASan would catch a
    // freed block here).
    EXPECT_EQ(std::vector<BYTE>(app.lastImageBits, app.lastImageBits + kStride * kHeight),
              std::vector<BYTE>(kStride * kHeight, 2));
}

TEST_F(FinalImage, WithoutACaptureWindowTheLastCopyNeverStandsIn)
{
    WriteAvi("C:\\a.avi", {7});
    LoadFrameFromAvi("C:\\a.avi", &app.lastImage);
    PackedDib *image = app.lastImage;
    WriteAvi("C:\\_NOCTIL2.AVI", {42});

    app.captureWindow = nullptr;
    app.SelectionState = 4;
    EXPECT_FALSE(MakeFinalImage());
    EXPECT_EQ(app.SelectionState, SELECTION_RENDER);
    EXPECT_EQ(app.lastImage, image);
    EXPECT_EQ(Rows(app.lastImage), std::vector<BYTE>(kStride * kHeight, 7));
}

TEST_F(FinalImage, ReadingReportsWhetherTheImageWasReplaced)
{
    WriteAvi("C:\\good.avi", {5});
    EXPECT_FALSE(LoadFrameFromAvi("C:\\missing.avi", &app.lastImage));
    EXPECT_TRUE(LoadFrameFromAvi("C:\\good.avi", &app.lastImage));
    EXPECT_FALSE(LoadFrameFromAvi("C:\\missing.avi", &app.lastImage));
    EXPECT_EQ(Rows(app.lastImage), std::vector<BYTE>(kStride * kHeight, 5));
}

}  // namespace
