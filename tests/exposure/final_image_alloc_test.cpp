// The final image's round trip through the driver's temporary files and its
// append to the output file, image after image on the simulated camera:
// once the first image has grown the buffers, an image costs exactly the one
// block that holds it, and each image is its own, never a stale one.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "alloc_counter.h"
#include "readout_test_support.h"

namespace {

class FinalImageAllocation : public ::testing::Test {
protected:
    void SetUp() override
    {
        app.captureWindow = capCreateCaptureWindowA("capture", 0, 0, 0, 160, 120, nullptr, 0);
        ASSERT_TRUE(SendMessageA(app.captureWindow, WM_CAP_DRIVER_CONNECT, 0, 0));
        ASSERT_TRUE(
            SendMessageA(app.captureWindow, WM_CAP_GET_STATUS, sizeof app.captureStatus, (LPARAM)&app.captureStatus));
        imageBytes =
            noctil_test::SetOutputFormat((LONG)app.captureStatus.uiImageWidth, (LONG)app.captureStatus.uiImageHeight)
                .biSizeImage;
        strcpy(app.settings.imageFile, "C:\\night.avi");
        ASSERT_EQ(OpenImageFile(), 1);
    }
    void TearDown() override { CloseImageFile(); }

    // One exposure's image: the kept frame, all of it `value`, goes through
    // the driver's files into lastImage and on into the output file.
    void TakeImage(BYTE value)
    {
        memset(app.BestFrameBuffer, value, imageBytes);
        ASSERT_TRUE(MakeFinalImage());
        ASSERT_TRUE(AppendImage(app.lastImage, app.lastImageBits));
    }

    noctil_test::ProgramSession program;
    noctil_test::SnapshotView snapshot;
    DWORD imageBytes = 0;
};

TEST_F(FinalImageAllocation, EachImageAfterTheFirstCostsOnlyItsImageBlock)
{
    TakeImage(1);
    std::vector<size_t> blocks;
    for (BYTE value = 2; value <= 9; value++) {
        alloc_counter::start();
        TakeImage(value);
        blocks.push_back(alloc_counter::stop());
        // The reused reader and buffers hand over this image, not the last:
        // the snapshot window shows it.
        const noctil_test::SnapshotView::Image shown = snapshot.Painted();
        ASSERT_EQ(shown.rows.size(), imageBytes);
        ASSERT_EQ(shown.rows.front(), value);
        ASSERT_EQ(shown.rows.back(), value);
    }
    EXPECT_EQ(blocks, std::vector<size_t>(8, 1));
}

// The output file holds every image in order after a run of them.
TEST_F(FinalImageAllocation, TheOutputFileHoldsEveryImage)
{
    for (BYTE value = 1; value <= 3; value++) TakeImage((BYTE)(value * 40));
    CloseImageFile();
    AVIFileInit();
    PAVISTREAM stream = NULL;
    ASSERT_EQ(AVIStreamOpenFromFileA(&stream, "C:\\night.avi", streamtypeVIDEO, 0, OF_READ, NULL), AVIERR_OK);
    PGETFRAME reader = AVIStreamGetFrameOpen(stream, NULL);
    ASSERT_NE(reader, nullptr);
    for (LONG i = 0; i < 3; i++) {
        const auto *frame = (const BITMAPINFOHEADER *)AVIStreamGetFrame(reader, i);
        ASSERT_NE(frame, nullptr);
        const BYTE *bits = (const BYTE *)(frame + 1);
        EXPECT_EQ(bits[0], (BYTE)((i + 1) * 40)) << "image " << i;
        EXPECT_EQ(bits[frame->biSizeImage - 1], (BYTE)((i + 1) * 40)) << "image " << i;
    }
    EXPECT_EQ(AVIStreamGetFrame(reader, 3), nullptr);
    AVIStreamGetFrameClose(reader);
    AVIStreamRelease(stream);
    AVIFileExit();
}

}  // namespace
