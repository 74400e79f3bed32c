// Reading the final image back from an AVI file into lastImage.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <optional>

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

// Every row byte `value`: the image of a frame of WriteAvi.
std::vector<std::uint8_t> Filled(BYTE value) { return std::vector<std::uint8_t>(kStride * kHeight, value); }

class FinalImage : public ::testing::Test {
protected:
    // The snapshot window's image: the current image as the user sees it.
    noctil_test::SnapshotView::Image Shown() const { return snapshot->Painted(); }

    noctil_test::ProgramSession program;
    std::optional<noctil_test::SnapshotView> snapshot{std::in_place};
};

TEST_F(FinalImage, FrameZeroBecomesTheImageAndItsRowsArePublished)
{
    WriteAvi("C:\\frames.avi", {10, 20});
    LoadFrameFromAvi("C:\\frames.avi", &app.lastImage);
    // Painted straight away, rows and all: the rows it draws are the new image's.
    const noctil_test::SnapshotView::Image shown = Shown();
    ASSERT_TRUE(shown.drawn);
    EXPECT_EQ(shown.header.biWidth, kWidth);
    EXPECT_EQ(shown.header.biHeight, kHeight);
    EXPECT_EQ(shown.header.biBitCount, 24);
    EXPECT_EQ(shown.rows, Filled(10));
}

TEST_F(FinalImage, AFileThatCannotBeReadLeavesTheImage)
{
    WriteAvi("C:\\good.avi", {77});
    LoadFrameFromAvi("C:\\good.avi", &app.lastImage);
    ASSERT_TRUE(Shown().drawn);

    std::ofstream(plat::nativePath("C:\\empty.avi"));
    std::ofstream(plat::nativePath("C:\\junk.avi")) << "RIFF\x10\0\0\0AVI LIST junk that is not a header";
    WriteAvi("C:\\noframes.avi", {});
    for (const char *name : {"C:\\missing.avi", "C:\\empty.avi", "C:\\junk.avi", "C:\\noframes.avi"}) {
        SCOPED_TRACE(name);
        LoadFrameFromAvi(name, &app.lastImage);
        const noctil_test::SnapshotView::Image shown = Shown();
        ASSERT_TRUE(shown.drawn);
        EXPECT_EQ(shown.header.biWidth, kWidth);
        EXPECT_EQ(shown.header.biHeight, kHeight);
        EXPECT_EQ(shown.rows, Filled(77));
    }
}

TEST_F(FinalImage, AReplacedImageTakesTheRowLocationWithIt)
{
    WriteAvi("C:\\a.avi", {1});
    WriteAvi("C:\\b.avi", {2});
    LoadFrameFromAvi("C:\\a.avi", &app.lastImage);
    ASSERT_EQ(Shown().rows, Filled(1));
    LoadFrameFromAvi("C:\\b.avi", &app.lastImage);
    // The window paints the published rows: they are the new image's (ASan
    // would catch a freed block here).
    EXPECT_EQ(Shown().rows, Filled(2));
}

TEST_F(FinalImage, WithoutACaptureWindowTheLastCopyNeverStandsIn)
{
    WriteAvi("C:\\a.avi", {7});
    LoadFrameFromAvi("C:\\a.avi", &app.lastImage);
    WriteAvi("C:\\_NOCTIL2.AVI", {42});

    app.captureWindow = nullptr;
    app.SelectionState = 4;
    EXPECT_FALSE(MakeFinalImage());
    EXPECT_EQ(Shown().rows, Filled(7));
    // The selection was put to rendering all the same: a frame the driver
    // delivers now comes back as the kept image, without a beep.
    app.captureStatus.uiImageHeight = 240;
    std::vector<BYTE> frame(960 * 240, 0xC8);
    VIDEOHDR header{};
    header.lpData = frame.data();
    header.dwBufferLength = (DWORD)frame.size();
    ReadoutFrameCallback(nullptr, &header);
    EXPECT_EQ(frame, std::vector<BYTE>(frame.size(), 0));
    EXPECT_EQ(program.beeps(), 0u);
    EXPECT_TRUE(program.portValues().empty());
}

TEST_F(FinalImage, ReadingReportsWhetherTheImageWasReplaced)
{
    WriteAvi("C:\\good.avi", {5});
    EXPECT_FALSE(LoadFrameFromAvi("C:\\missing.avi", &app.lastImage));
    EXPECT_TRUE(LoadFrameFromAvi("C:\\good.avi", &app.lastImage));
    EXPECT_FALSE(LoadFrameFromAvi("C:\\missing.avi", &app.lastImage));
    EXPECT_EQ(Shown().rows, Filled(5));
}

}  // namespace
