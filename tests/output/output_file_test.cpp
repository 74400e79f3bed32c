// The output file: its stream header, its images in order, numbering over
// successive runs, and finishing the file when the program ends.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "avi_calls.h"
#include "avifile/avi_reader.h"
#include "files/paths.h"
#include "readout_test_support.h"

namespace {

using noctil_test::SetOutputFormat;

// A 24-bit image block of the output size, every row byte `value`.
std::vector<BYTE> MakeImage(BYTE value)
{
    std::vector<BYTE> block(sizeof(BITMAPINFOHEADER) + app.outputFormat.biSizeImage, value);
    memcpy(block.data(), &app.outputFormat, sizeof(BITMAPINFOHEADER));
    return block;
}

PackedDib *Dib(std::vector<BYTE> &block) { return (PackedDib *)block.data(); }

using noctil::test::AviCall;
using noctil::test::aviCallCount;
using noctil::test::aviWritePositions;

class OutputFile : public ::testing::Test {
protected:
    OutputFile() { noctil::test::clearAviCalls(); }

    void Name(const char *name) { snprintf(app.settings.imageFile, sizeof app.settings.imageFile, "%s", name); }

    std::unique_ptr<plat::avi::Reader> Read(const char *name)
    {
        return plat::avi::Reader::open(plat::nativePath(name));
    }
    // The images a reader finds in the file now (the file is complete after
    // every image); -1 when there is no file it can read.
    long FramesIn(const char *name)
    {
        auto reader = Read(name);
        return reader ? (long)reader->frameCount() : -1;
    }
    // The program's saved output file name.
    static std::string SavedName() { return noctil_test::SavedSetting("Filenames", "ImageFile"); }

    noctil_test::ProgramSession program;
};

TEST_F(OutputFile, StreamHeaderOfA640By480Capture)
{
    const BITMAPINFOHEADER format = SetOutputFormat(640, 480);
    Name("C:\\header.avi");
    ASSERT_EQ(OpenImageFile(), 1);
    EXPECT_EQ(FramesIn("C:\\header.avi"), 0);
    EXPECT_EQ(aviWritePositions(), std::vector<LONG>{});
    CloseImageFile();

    auto reader = Read("C:\\header.avi");
    ASSERT_TRUE(reader);
    const plat::avi::StreamHeader &header = reader->header();
    EXPECT_EQ(header.scale, 1u);
    EXPECT_EQ(header.rate, 25u);
    EXPECT_EQ(header.suggestedBufferSize, 921600u);
    EXPECT_EQ(header.fccHandler, 0u);
    EXPECT_EQ(header.frame[0], 0);
    EXPECT_EQ(header.frame[1], 0);
    EXPECT_EQ(header.frame[2], 640);
    EXPECT_EQ(header.frame[3], 480);
    ASSERT_EQ(reader->format().size(), sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(memcmp(reader->format().data(), &format, sizeof(BITMAPINFOHEADER)), 0);
    EXPECT_EQ(reader->frameCount(), 0u);
}

TEST_F(OutputFile, ImagesTakeConsecutivePositionsAsKeyFrames)
{
    const DWORD imageBytes = SetOutputFormat(16, 8).biSizeImage;
    Name("C:\\three.avi");
    ASSERT_EQ(OpenImageFile(), 1);
    std::vector<BYTE> images[] = {MakeImage(1), MakeImage(2), MakeImage(3)};
    for (int i = 0; i < 3; i++) {
        EXPECT_TRUE(AppendImage(Dib(images[i]), PackedDibBits(Dib(images[i]))));
        EXPECT_EQ(FramesIn("C:\\three.avi"), i + 1);
    }
    // Each image at the position after the last: the first at 0.
    EXPECT_EQ(aviWritePositions(), (std::vector<LONG>{0, 1, 2}));
    CloseImageFile();
    EXPECT_FALSE(AppendImage(Dib(images[0]), PackedDibBits(Dib(images[0])))) << "after the close";
    EXPECT_EQ(aviWritePositions().size(), 3u) << "nothing asked of the library after the close";

    auto reader = Read("C:\\three.avi");
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->frameCount(), 3u);
    for (int i = 0; i < 3; i++) {
        std::vector<std::uint8_t> frame;
        ASSERT_TRUE(reader->readFrame(i, frame));
        EXPECT_EQ(frame, std::vector<std::uint8_t>(imageBytes, (BYTE)(i + 1)));
    }
}

TEST_F(OutputFile, NothingIsWrittenWithoutAnOpenFileOrAnImage)
{
    SetOutputFormat(16, 8);
    std::vector<BYTE> image = MakeImage(9);
    EXPECT_FALSE(AppendImage(Dib(image), PackedDibBits(Dib(image)))) << "before any open";

    Name("C:\\none.avi");
    ASSERT_EQ(OpenImageFile(), 1);
    EXPECT_FALSE(AppendImage(nullptr, nullptr)) << "no image yet";
    EXPECT_EQ(FramesIn("C:\\none.avi"), 0);
    CloseImageFile();
    EXPECT_FALSE(AppendImage(Dib(image), PackedDibBits(Dib(image)))) << "after the close";
    EXPECT_EQ(FramesIn("C:\\none.avi"), 0);
    CloseImageFile();  // closing twice is safe
    EXPECT_EQ(FramesIn("C:\\none.avi"), 0);
    EXPECT_EQ(aviWritePositions(), std::vector<LONG>{}) << "nothing asked of the library to write";
    EXPECT_EQ(aviCallCount(AviCall::StreamRelease), 1);
    EXPECT_EQ(aviCallCount(AviCall::FileRelease), 1);
}

TEST_F(OutputFile, SuccessiveRunsNumberTheirFiles)
{
    SetOutputFormat(16, 8);
    app.settings.autoIncrement = 1;
    Name("C:\\Images.AVI");
    const char *expected[] = {"C:\\Images_000.AVI", "C:\\Images_001.AVI", "C:\\Images_002.AVI"};
    for (const char *name : expected) {
        ASSERT_EQ(OpenImageFile(), 1);
        EXPECT_EQ(SavedName(), name);
        CloseImageFile();
        EXPECT_TRUE(std::filesystem::exists(plat::nativePath(name)));
    }
}

// A file of the name that holds no image is replaced without a question,
// but only by a run that writes an image: one that writes none leaves it.
TEST_F(OutputFile, WithoutNumberingAnExistingFileIsReplacedByTheFirstImage)
{
    SetOutputFormat(16, 8);
    const auto path = plat::nativePath("C:\\Images.AVI");
    std::ofstream(path) << "an old file";
    Name("C:\\Images.AVI");
    ASSERT_EQ(OpenImageFile(), 1);
    CloseImageFile();
    std::ifstream kept(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "an old file") << "no image, no replacement";

    ASSERT_EQ(OpenImageFile(), 1);
    std::vector<BYTE> image = MakeImage(5);
    AppendImage(Dib(image), PackedDibBits(Dib(image)));
    CloseImageFile();
    EXPECT_EQ(SavedName(), "C:\\Images.AVI");
    auto reader = Read("C:\\Images.AVI");
    ASSERT_TRUE(reader) << "a fresh AVI file";
    EXPECT_EQ(reader->frameCount(), 1u);
    EXPECT_FALSE(std::filesystem::exists(plat::nativePath("C:\\Images.AVI.previous"))) << "nothing left beside it";
}

TEST_F(OutputFile, EndingTheProgramFinishesAnOpenFile)
{
    SetOutputFormat(16, 8);
    Name("C:\\exit.avi");
    ASSERT_EQ(OpenImageFile(), 1);
    std::vector<BYTE> a = MakeImage(5), b = MakeImage(6);
    AppendImage(Dib(a), PackedDibBits(Dib(a)));
    AppendImage(Dib(b), PackedDibBits(Dib(b)));
    FinishOutputOnExit();
    // Finished and let go: nothing more goes into it, and a second finish
    // has nothing left to do.
    EXPECT_FALSE(AppendImage(Dib(a), PackedDibBits(Dib(a))));
    FinishOutputOnExit();
    EXPECT_EQ(aviWritePositions(), (std::vector<LONG>{0, 1}));
    EXPECT_EQ(aviCallCount(AviCall::StreamRelease), 1) << "the stream is let go once";
    EXPECT_EQ(aviCallCount(AviCall::FileRelease), 1) << "the file is let go once";

    auto reader = Read("C:\\exit.avi");
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->frameCount(), 2u);
}

}  // namespace
