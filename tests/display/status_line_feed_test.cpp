// What the status line is told, through the observer layer, of the port's
// levels and of the files the AVI library writes: the facts its line is
// composed from, without its library reading the port or the library.
#include <gtest/gtest.h>
#include <conio.h>
#include <vfw.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/session.h"
#include "display/status_line_feed.h"
#include "files/paths.h"
#include "platform_fixture.h"

namespace noctil::test {
namespace {

using Feed = plat::status::Feed;
constexpr unsigned short kData = 0x378;

class StatusLineFeed : public PlatformTest {
protected:
    StatusLineFeed() { AVIFileInit(); }
    ~StatusLineFeed() override { AVIFileExit(); }

    const Feed &feed() {
        const Feed *feed = session().findComponent<Feed>();
        EXPECT_TRUE(feed) << "every session starts with the status line's feed";
        static const Feed none;
        return feed ? *feed : none;
    }
    void after(plat::Micros span) { session().clock().sleepUntil(session().clock().now() + span); }

    // A 24-bit 4 x 2 stream, as the output file has.
    static BITMAPINFOHEADER format() {
        BITMAPINFOHEADER bi{};
        bi.biSize = sizeof bi;
        bi.biWidth = 4;
        bi.biHeight = 2;
        bi.biPlanes = 1;
        bi.biBitCount = 24;
        bi.biSizeImage = 24;
        return bi;
    }
    static PAVIFILE create(const char *name) {
        PAVIFILE file = nullptr;
        EXPECT_EQ(AVIFileOpenA(&file, name, OF_WRITE | OF_CREATE, nullptr), AVIERR_OK) << name;
        return file;
    }
    static PAVISTREAM openStream(PAVIFILE file) {
        AVISTREAMINFOA info{};
        info.fccType = streamtypeVIDEO;
        info.dwScale = 1;
        info.dwRate = 25;
        PAVISTREAM stream = nullptr;
        EXPECT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
        BITMAPINFOHEADER bi = format();
        EXPECT_EQ(AVIStreamSetFormat(stream, 0, &bi, sizeof bi), AVIERR_OK);
        return stream;
    }
    static void append(PAVISTREAM stream, LONG position) {
        std::vector<std::uint8_t> image(24, 0x40);
        EXPECT_EQ(
            AVIStreamWrite(stream, position, 1, image.data(), LONG(image.size()), AVIIF_KEYFRAME, nullptr, nullptr),
            AVIERR_OK);
    }
};

TEST_F(StatusLineFeed, HoldsTheDataLinesLevelSinceItsFirstWrite) {
    EXPECT_FALSE(feed().port()) << "no level before the port's first write";
    const plat::Micros exposed = session().clock().now();
    _outp(kData, 0x0B);
    after(1000);
    _outp(kData, 0x0B);      // the same level again: held since the first
    _outp(kData + 2, 0x04);  // the control register is not the camera's lines
    ASSERT_TRUE(feed().port());
    EXPECT_EQ(feed().port()->value, 0x0B);
    EXPECT_EQ(feed().port()->since, exposed);
    after(2000);
    const plat::Micros readout = session().clock().now();
    _outp(kData, 0x08);
    EXPECT_EQ(feed().port()->value, 0x08);
    EXPECT_EQ(feed().port()->since, readout);
}

TEST_F(StatusLineFeed, FollowsTheFilesWhoseStreamIsOpenNewestFirst) {
    PAVIFILE night = create("C:\\night.avi");
    EXPECT_FALSE(feed().newestFile()) << "a file without a stream format takes no image yet";
    PAVISTREAM nightStream = openStream(night);
    const Feed::File *file = feed().newestFile();
    ASSERT_TRUE(file);
    EXPECT_EQ(file->name, "C:\\night.avi");
    EXPECT_EQ(file->path, plat::nativePath("C:\\night.avi"));
    EXPECT_EQ(file->frames, 0u);
    EXPECT_EQ(file->frameBytes, 24u + 8 + 16 + 8) << "the image, its chunk header and two index entries";
    const std::uint64_t nightSerial = file->serial;
    append(nightStream, 0);
    append(nightStream, 1);
    EXPECT_EQ(feed().newestFile()->frames, 2u);
    EXPECT_EQ(feed().newestFile()->logLinesWaiting, 0u) << "its image log has written every line";

    PAVIFILE second = create("C:\\second.avi");
    PAVISTREAM secondStream = openStream(second);
    ASSERT_TRUE(feed().newestFile());
    EXPECT_EQ(feed().newestFile()->name, "C:\\second.avi");
    EXPECT_GT(feed().newestFile()->serial, nightSerial);

    AVIStreamRelease(secondStream);
    AVIFileRelease(second);
    ASSERT_TRUE(feed().newestFile());
    EXPECT_EQ(feed().newestFile()->name, "C:\\night.avi") << "a closed file is no longer followed";
    EXPECT_EQ(feed().newestFile()->frames, 2u);
    AVIStreamRelease(nightStream);
    AVIFileRelease(night);
    EXPECT_FALSE(feed().newestFile());
}

}  // namespace
}  // namespace noctil::test
