// Output files that cannot be opened or written: a failed open is reported
// in a message box, a failed write is never taken for a written image, and
// every image written before stays readable. (How the running program tells
// of a failed write is in the end-to-end tests.)
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>

#include <sys/resource.h>

#include "avi_calls.h"
#include "avifile/avi_reader.h"
#include "dialog_user.h"
#include "files/paths.h"
#include "readout_test_support.h"

namespace {

using noctil_test::SetOutputFormat;

std::vector<BYTE> MakeImage(BYTE value, DWORD sizeImage)
{
    std::vector<BYTE> block(sizeof(BITMAPINFOHEADER) + sizeImage, value);
    BITMAPINFOHEADER header = app.outputFormat;
    header.biSizeImage = sizeImage;
    memcpy(block.data(), &header, sizeof header);
    return block;
}

PackedDib *Dib(std::vector<BYTE> &block) { return (PackedDib *)block.data(); }

// Holds the process's file size limit while it lives: writes past it fail
// as on a full disk (EFBIG, with the signal ignored).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

using noctil::test::AviCall;
using noctil::test::aviCallCount;
using noctil::test::aviWritePositions;

class OutputFailure : public ::testing::Test {
protected:
    OutputFailure() { noctil::test::clearAviCalls(); }

    void Name(const std::string &name)
    {
        snprintf(app.settings.imageFile, sizeof app.settings.imageFile, "%s", name.c_str());
    }
    // Answers each message box that opens with Enter, as a person would.
    void AnswerMessageBoxes(int count)
    {
        auto &display = dynamic_cast<plat::HeadlessDisplay &>(plat::session().display());
        for (int i = 0; i < count; i++)
            display.schedule(plat::session().clock().now(), [] { noctil::test::pressEnter(); });
    }
    std::vector<std::string> Messages() const { return noctil::test::messageBoxTexts(); }

    noctil_test::ProgramSession program;
};

TEST_F(OutputFailure, AWriteThatFailsIsNotTakenForAnImage)
{
    const DWORD imageBytes = SetOutputFormat(64, 48).biSizeImage;
    Name("C:\\full.avi");
    ASSERT_EQ(OpenImageFile(), 1);
    std::vector<BYTE> images[] = {
        MakeImage(1, app.outputFormat.biSizeImage), MakeImage(2, app.outputFormat.biSizeImage),
        MakeImage(3, app.outputFormat.biSizeImage), MakeImage(4, app.outputFormat.biSizeImage)};
    ASSERT_TRUE(AppendImage(Dib(images[0]), PackedDibBits(Dib(images[0]))));
    ASSERT_TRUE(AppendImage(Dib(images[1]), PackedDibBits(Dib(images[1]))));

    {
        FileSizeLimit full(std::filesystem::file_size(plat::nativePath("C:\\full.avi")) + 100);
        EXPECT_FALSE(AppendImage(Dib(images[2]), PackedDibBits(Dib(images[2]))));
        EXPECT_FALSE(AppendImage(Dib(images[3]), PackedDibBits(Dib(images[3]))));
    }
    // The failed images took no place in the file: both were asked at the
    // position after image 2, as is the next one.

    // Room again: the run goes on into the same file.
    EXPECT_TRUE(AppendImage(Dib(images[3]), PackedDibBits(Dib(images[3]))));
    EXPECT_EQ(aviWritePositions(), (std::vector<LONG>{0, 1, 2, 2, 2}));
    CloseImageFile();
    auto reader = plat::avi::Reader::open(plat::nativePath("C:\\full.avi"));
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->frameCount(), 3u);
    const BYTE kept[] = {1, 2, 4};
    for (int i = 0; i < 3; i++) {
        std::vector<std::uint8_t> frame;
        ASSERT_TRUE(reader->readFrame(i, frame));
        EXPECT_EQ(frame, std::vector<std::uint8_t>(imageBytes, kept[i])) << "image " << i;
    }
}

TEST_F(OutputFailure, RowsThatDoNotBelongToTheImageAreNeverWritten)
{
    SetOutputFormat(16, 8);
    Name("C:\\rows.avi");
    ASSERT_EQ(OpenImageFile(), 1);
    std::vector<BYTE> image = MakeImage(7, app.outputFormat.biSizeImage);
    std::vector<BYTE> other = MakeImage(8, app.outputFormat.biSizeImage);
    std::vector<BYTE> larger = MakeImage(9, app.outputFormat.biSizeImage * 2);
    struct Case {
        const char *name;
        PackedDib *dib;
        BYTE *bits;
    } cases[] = {
        {"rows of another image", Dib(image), PackedDibBits(Dib(other))},
        {"no rows", Dib(image), nullptr},
        {"rows that run past the block", Dib(image), PackedDibBits(Dib(image)) + 1},
        {"the header as rows", Dib(image), image.data()},
        {"an image of another size than the stream", Dib(larger), PackedDibBits(Dib(larger))},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(AppendImage(c.dib, c.bits));
        EXPECT_EQ(aviWritePositions(), std::vector<LONG>{}) << "nothing asked of the library";
        auto reader = plat::avi::Reader::open(plat::nativePath("C:\\rows.avi"));
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->frameCount(), 0u);
    }
    // None took a place in the file: the image that belongs is its first.
    EXPECT_TRUE(AppendImage(Dib(image), PackedDibBits(Dib(image))));
    EXPECT_EQ(aviWritePositions(), std::vector<LONG>{0});
    CloseImageFile();
    auto reader = plat::avi::Reader::open(plat::nativePath("C:\\rows.avi"));
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->frameCount(), 1u);
    std::vector<std::uint8_t> frame;
    ASSERT_TRUE(reader->readFrame(0, frame));
    EXPECT_EQ(frame, std::vector<std::uint8_t>(frame.size(), 7));
}

TEST_F(OutputFailure, FilesThatCannotBeOpenedAreReported)
{
    SetOutputFormat(16, 8);
    struct Case {
        std::string name;
        int autoIncrement;
        std::string message;
    } cases[] = {
        {"C:\\no\\such\\folder\\x.avi", 0,
         "Can't open AVI file C:\\no\\such\\folder\\x.avi\nThe system cannot find the path specified."},
        {"C:\\" + std::string(252, 'n') + ".avi", 1,
         "Can't open AVI file C:\\" + std::string(252, 'n') + ".avi\nThe filename or extension is too long."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.size());
        Name(c.name);
        app.settings.autoIncrement = c.autoIncrement;
        AnswerMessageBoxes(1);
        size_t before = Messages().size();
        EXPECT_EQ(OpenImageFile(), 0);
        std::vector<BYTE> image = MakeImage(1, app.outputFormat.biSizeImage);
        EXPECT_FALSE(AppendImage(Dib(image), PackedDibBits(Dib(image)))) << "no file to write to";
        EXPECT_EQ(noctil_test::SavedSetting("Filenames", "ImageFile"), c.name) << "the name is left as it was";
        ASSERT_EQ(Messages().size(), before + 1);
        EXPECT_EQ(Messages().back(), c.message);
        CloseImageFile();  // what Stop does after a failed open
        EXPECT_FALSE(AppendImage(Dib(image), PackedDibBits(Dib(image))));
        EXPECT_EQ(Messages().size(), before + 1) << "nothing more to tell";
        EXPECT_EQ(aviWritePositions(), std::vector<LONG>{}) << "nothing asked of the library to write";
        EXPECT_EQ(aviCallCount(AviCall::FileRelease), 0) << "no file to let go";
    }
}

}  // namespace
