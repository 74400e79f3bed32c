// The AVI file library's Win32 calls as the program makes them: writing the
// output file, reading frame 0 of a capture file back as a packed DIB, the
// use count and reference counts, and the failures the program must see.
#include <gtest/gtest.h>
#include <vfw.h>

#include "avi_test_support.h"
#include "platform_fixture.h"
#include "avifile/avi_library.h"
#include "avifile/avi_reader.h"
#include "core/session.h"
#include "display/display.h"
#include "files/paths.h"

namespace {

using namespace avitest;

class AviLibraryCalls : public noctil::test::PlatformTest {
protected:
    AviLibraryCalls() { AVIFileInit(); }
    ~AviLibraryCalls() override {
        if (!ended_) AVIFileExit();
    }
    // Ends the session with files still open: the library closes them.
    void endWithFilesOpen() {
        ended_ = true;
        endSession();
    }

    static BITMAPINFOHEADER header24(LONG w, LONG h) {
        BITMAPINFOHEADER bi{};
        bi.biSize = sizeof bi;
        bi.biWidth = w;
        bi.biHeight = h;
        bi.biPlanes = 1;
        bi.biBitCount = 24;
        bi.biSizeImage = DWORD(((w * 3 + 3) & ~3) * h);
        return bi;
    }

    static AVISTREAMINFOA streamInfo(const BITMAPINFOHEADER &bi) {
        AVISTREAMINFOA info{};
        info.fccType = streamtypeVIDEO;
        info.dwScale = 1;
        info.dwRate = 25;
        info.dwSuggestedBufferSize = bi.biSizeImage;
        info.rcFrame = {0, 0, bi.biWidth, bi.biHeight};
        return info;
    }

    // Opens `name` for writing with a 24-bit stream as the output file does.
    bool openOutput(const char *name, BITMAPINFOHEADER bi, PAVIFILE &file, PAVISTREAM &stream) {
        AVISTREAMINFOA info = streamInfo(bi);
        return AVIFileOpenA(&file, name, OF_WRITE | OF_CREATE, nullptr) == AVIERR_OK &&
               AVIFileCreateStreamA(file, &stream, &info) == AVIERR_OK &&
               AVIStreamSetFormat(stream, 0, &bi, sizeof bi) == AVIERR_OK;
    }

    bool ended_ = false;
};

TEST_F(AviLibraryCalls, StreamHeaderOfA640x480Capture) {
    const BITMAPINFOHEADER bi = header24(640, 480);
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    ASSERT_TRUE(openOutput("C:\\Images_000.AVI", bi, file, stream));
    const auto image = patternFrame(bi.biSizeImage, 7);
    for (LONG i = 0; i < 2; ++i) {
        LONG samples = -1, bytes = -1;
        EXPECT_EQ(AVIStreamWrite(stream, i, 1, const_cast<std::uint8_t *>(image.data()), LONG(bi.biSizeImage),
                                 AVIIF_KEYFRAME, &samples, &bytes),
                  AVIERR_OK);
        EXPECT_EQ(samples, 1);
        EXPECT_EQ(bytes, LONG(bi.biSizeImage));
    }
    EXPECT_EQ(AVIStreamRelease(stream), 0u);
    EXPECT_EQ(AVIFileRelease(file), 0u);

    const auto path = plat::nativePath("C:\\Images_000.AVI");
    ASSERT_EQ(path, root() / "drives" / "c" / "Images_000.AVI");
    const auto bytes = readFile(path);
    const std::size_t avih = findId(bytes, "avih") + 8, strh = findId(bytes, "strh") + 8;
    const std::size_t strf = findId(bytes, "strf") + 8;
    EXPECT_EQ(le32(bytes, avih + 0), 40000u);   // microseconds per frame
    EXPECT_EQ(le32(bytes, avih + 12), 0x910u);  // index, interleaved, trusted chunk ids
    EXPECT_EQ(le32(bytes, avih + 16), 2u);      // frames
    EXPECT_EQ(le32(bytes, avih + 24), 1u);      // streams
    EXPECT_EQ(le32(bytes, avih + 32), 640u);
    EXPECT_EQ(le32(bytes, avih + 36), 480u);
    EXPECT_EQ(le32(bytes, strh + 0), streamtypeVIDEO);
    EXPECT_EQ(le32(bytes, strh + 4), 0u);                  // no compressor
    EXPECT_EQ(le32(bytes, strh + 20), 1u);                 // scale
    EXPECT_EQ(le32(bytes, strh + 24), 25u);                // rate
    EXPECT_EQ(le32(bytes, strh + 32), 2u);                 // length
    EXPECT_EQ(le32(bytes, strh + 36), 921600u);            // suggested buffer: biSizeImage
    EXPECT_EQ(le32(bytes, strh + 48), 0u);                 // rcFrame left, top
    EXPECT_EQ(le32(bytes, strh + 52), 640u | 480u << 16);  // right, bottom
    EXPECT_EQ(le32(bytes, strf + 16), 0u);                 // BI_RGB
    // idx1: two key frames, offsets from the 'movi' fourcc to each chunk.
    const std::size_t movi = findId(bytes, "movi"), idx1 = findId(bytes, "idx1");
    ASSERT_NE(idx1, std::string::npos);
    EXPECT_EQ(le32(bytes, idx1 + 4), 32u);
    for (int i = 0; i < 2; ++i) {
        const std::size_t entry = idx1 + 8 + 16 * std::size_t(i);
        EXPECT_EQ(le32(bytes, entry + 4), 0x10u);
        EXPECT_EQ(findId(bytes, "00db", movi + le32(bytes, entry + 8)), movi + le32(bytes, entry + 8));
        EXPECT_EQ(le32(bytes, entry + 12), 921600u);
    }
    const Probe probe = ffprobe(path);
    EXPECT_EQ(probe.frames, 2);
    EXPECT_EQ(probe.width, 640);
    EXPECT_EQ(probe.height, 480);
    EXPECT_EQ(probe.rate, "25/1");
    EXPECT_EQ(probe.messages, "");
}

TEST_F(AviLibraryCalls, FrameZeroComesBackAsAPackedDib) {
    // A 24-bit 641 x 3 file whose rows are padded to 1924 bytes.
    const BITMAPINFOHEADER bi = header24(641, 3);
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    ASSERT_TRUE(openOutput("C:\\_NOCTIL2.AVI", bi, file, stream));
    const auto image = patternFrame(bi.biSizeImage, 3);
    ASSERT_EQ(AVIStreamWrite(stream, 0, 1, const_cast<std::uint8_t *>(image.data()), LONG(image.size()), AVIIF_KEYFRAME,
                             nullptr, nullptr),
              AVIERR_OK);
    AVIStreamRelease(stream);
    AVIFileRelease(file);

    PAVISTREAM in = nullptr;
    ASSERT_EQ(AVIStreamOpenFromFileA(&in, "C:\\_NOCTIL2.AVI", streamtypeVIDEO, 0, OF_READ, nullptr), AVIERR_OK);
    PGETFRAME frames = AVIStreamGetFrameOpen(in, nullptr);
    ASSERT_NE(frames, nullptr);
    const auto *dib = static_cast<const BITMAPINFOHEADER *>(AVIStreamGetFrame(frames, 0));
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib->biSize, 40u);
    EXPECT_EQ(dib->biWidth, 641);
    EXPECT_EQ(dib->biHeight, 3);
    EXPECT_EQ(dib->biBitCount, 24);
    EXPECT_EQ(dib->biCompression, 0u);
    EXPECT_EQ(dib->biClrUsed, 0u);
    EXPECT_EQ(dib->biSizeImage, 1924u * 3);
    const auto *rows = reinterpret_cast<const std::uint8_t *>(dib) + 40;
    for (int y = 0; y < 3; ++y)  // pixels equal; padding is not compared
        EXPECT_TRUE(std::equal(rows + y * 1924, rows + y * 1924 + 1923, image.begin() + y * 1924)) << "row " << y;
    EXPECT_EQ(AVIStreamGetFrame(frames, 1), nullptr);  // there is one frame
    EXPECT_EQ(AVIStreamGetFrame(frames, -1), nullptr);
    EXPECT_EQ(AVIStreamGetFrameClose(frames), AVIERR_OK);
    EXPECT_EQ(AVIStreamRelease(in), 0u);
    EXPECT_EQ(plat::avi::openObjectCount(), 0u);
}

TEST_F(AviLibraryCalls, TheLastReleaseFinishesTheFileInEitherOrder) {
    for (const bool streamFirst : {true, false}) {
        const BITMAPINFOHEADER bi = header24(8, 2);
        PAVIFILE file = nullptr;
        PAVISTREAM stream = nullptr;
        ASSERT_TRUE(openOutput("C:\\order.avi", bi, file, stream));
        std::vector<std::uint8_t> image(bi.biSizeImage, 9);
        ASSERT_EQ(AVIStreamWrite(stream, 0, 1, image.data(), LONG(image.size()), AVIIF_KEYFRAME, nullptr, nullptr),
                  AVIERR_OK);
        const auto path = plat::nativePath("C:\\order.avi");
        // The stream holds its file: releasing the file first leaves one reference.
        EXPECT_EQ(streamFirst ? AVIStreamRelease(stream) : AVIFileRelease(file), streamFirst ? 0u : 1u);
        EXPECT_EQ(findId(readFile(path), "idx1"), std::string::npos) << "finished while still held";
        EXPECT_EQ(streamFirst ? AVIFileRelease(file) : AVIStreamRelease(stream), 0u);
        EXPECT_NE(findId(readFile(path), "idx1"), std::string::npos) << "not finished by the last release";
        EXPECT_EQ(plat::avi::openObjectCount(), 0u);
    }
}

TEST_F(AviLibraryCalls, FailuresTheProgramSees) {
    PAVIFILE file = reinterpret_cast<PAVIFILE>(1);  // poisoned: a failed open must clear it
    EXPECT_EQ(AVIFileOpenA(&file, "C:\\no such dir\\x.avi", OF_WRITE | OF_CREATE, nullptr), AVIERR_FILEOPEN);
    EXPECT_EQ(file, nullptr);

    ASSERT_EQ(AVIFileOpenA(&file, "C:\\f.avi", OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
    BITMAPINFOHEADER bi = header24(4, 4);
    AVISTREAMINFOA info = streamInfo(bi);
    info.dwRate = 0;
    PAVISTREAM stream = reinterpret_cast<PAVISTREAM>(1);
    EXPECT_NE(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK) << "a rate of 0";
    EXPECT_EQ(stream, nullptr);
    info.dwRate = 25;
    ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
    std::vector<std::uint8_t> image(bi.biSizeImage, 1);
    const LONG n = LONG(image.size());
    EXPECT_NE(AVIStreamWrite(stream, 0, 1, image.data(), n, AVIIF_KEYFRAME, nullptr, nullptr), AVIERR_OK)
        << "a write before the format";
    EXPECT_NE(AVIStreamSetFormat(stream, 0, &bi, 39), AVIERR_OK) << "a format shorter than its header";
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, &bi, sizeof bi), AVIERR_OK);
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, &bi, sizeof bi), AVIERR_OK) << "the same format again";
    BITMAPINFOHEADER other = header24(8, 4);
    EXPECT_NE(AVIStreamSetFormat(stream, 0, &other, sizeof other), AVIERR_OK) << "a second format";
    EXPECT_EQ(AVIStreamWrite(stream, 0, 1, image.data(), n, AVIIF_KEYFRAME, nullptr, nullptr), AVIERR_OK);
    EXPECT_NE(AVIStreamWrite(stream, 0, 1, image.data(), n, AVIIF_KEYFRAME, nullptr, nullptr), AVIERR_OK)
        << "rewriting frame 0";
    // A position past the end (a failed write used one up) appends the next frame.
    EXPECT_EQ(AVIStreamWrite(stream, 2, 1, image.data(), n, AVIIF_KEYFRAME, nullptr, nullptr), AVIERR_OK);
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    EXPECT_EQ(plat::avi::Reader::open(plat::nativePath("C:\\f.avi"))->frameCount(), 2u);

    // Reading: a missing file, a file that is no AVI, a wanted format the
    // reader does not make.
    PAVISTREAM in = reinterpret_cast<PAVISTREAM>(1);
    EXPECT_NE(AVIStreamOpenFromFileA(&in, "C:\\missing.avi", streamtypeVIDEO, 0, OF_READ, nullptr), AVIERR_OK);
    EXPECT_EQ(in, nullptr);
    writeFile(plat::nativePath("C:\\text.avi"), std::vector<std::uint8_t>(100, 'x'));
    EXPECT_NE(AVIStreamOpenFromFileA(&in, "C:\\text.avi", streamtypeVIDEO, 0, OF_READ, nullptr), AVIERR_OK);
    EXPECT_NE(AVIStreamOpenFromFileA(&in, "C:\\f.avi", streamtypeVIDEO, 1, OF_READ, nullptr), AVIERR_OK)
        << "there is no second video stream";
    ASSERT_EQ(AVIStreamOpenFromFileA(&in, "C:\\f.avi", streamtypeVIDEO, 0, OF_READ, nullptr), AVIERR_OK);
    BITMAPINFOHEADER wanted = header24(4, 4);
    wanted.biBitCount = 8;
    EXPECT_EQ(AVIStreamGetFrameOpen(in, &wanted), nullptr);
    wanted.biBitCount = 24;
    PGETFRAME frames = AVIStreamGetFrameOpen(in, &wanted);
    EXPECT_NE(frames, nullptr);
    // The frame reader holds the stream: releasing the stream first is safe.
    EXPECT_EQ(AVIStreamRelease(in), 1u);
    EXPECT_NE(AVIStreamGetFrame(frames, 1), nullptr);
    EXPECT_EQ(AVIStreamGetFrameClose(frames), AVIERR_OK);
    EXPECT_EQ(AVIStreamGetFrameClose(frames), AVIERR_BADPARAM) << "a closed reader";
    EXPECT_EQ(plat::avi::openObjectCount(), 0u);
}

// The open modes of a file for writing, and the reason a failed open leaves.
TEST_F(AviLibraryCalls, OpeningForWritingAsTheSystemDoes) {
    struct Case {
        const char *what;
        const char *name;
        UINT mode;
        HRESULT result;
        DWORD lastError;  // after a failure
    } cases[] = {
        {"OF_CREATE alone creates the file", "C:\\alone.avi", OF_CREATE, AVIERR_OK, 0},
        {"with OF_WRITE", "C:\\write.avi", OF_WRITE | OF_CREATE, AVIERR_OK, 0},
        {"a missing folder", "C:\\no such dir\\x.avi", OF_WRITE | OF_CREATE, AVIERR_FILEOPEN, ERROR_PATH_NOT_FOUND},
        {"a folder of the name", "C:\\folder.avi", OF_WRITE | OF_CREATE, AVIERR_FILEOPEN, ERROR_ACCESS_DENIED},
    };
    std::filesystem::create_directories(plat::nativePath("C:\\folder.avi"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(ERROR_SUCCESS);
        PAVIFILE file = nullptr;
        ASSERT_EQ(AVIFileOpenA(&file, c.name, c.mode, nullptr), c.result);
        if (c.result != AVIERR_OK) {
            EXPECT_EQ(GetLastError(), c.lastError);
            continue;
        }
        BITMAPINFOHEADER bi = header24(4, 4);
        AVISTREAMINFOA info = streamInfo(bi);
        PAVISTREAM stream = nullptr;
        ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
        ASSERT_EQ(AVIStreamSetFormat(stream, 0, &bi, sizeof bi), AVIERR_OK);
        AVIStreamRelease(stream);
        AVIFileRelease(file);
        auto reader = plat::avi::Reader::open(plat::nativePath(c.name));
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->frameCount(), 0u);
    }
    EXPECT_TRUE(std::filesystem::is_directory(plat::nativePath("C:\\folder.avi")));
}

TEST_F(AviLibraryCalls, UseCountIsBalancedAndGatesOpening) {
    EXPECT_EQ(plat::avi::libraryUseCount(), 1);
    AVIFileInit();
    EXPECT_EQ(plat::avi::libraryUseCount(), 2);
    AVIFileExit();
    AVIFileExit();
    EXPECT_EQ(plat::avi::libraryUseCount(), 0);
    PAVIFILE file = nullptr;
    EXPECT_NE(AVIFileOpenA(&file, "C:\\x.avi", OF_WRITE | OF_CREATE, nullptr), AVIERR_OK)
        << "opened without AVIFileInit";
    AVIFileExit();  // one too many: stays at 0
    EXPECT_EQ(plat::avi::libraryUseCount(), 0);
    AVIFileInit();  // for the fixture's closing AVIFileExit
}

TEST_F(AviLibraryCalls, EndingTheSessionFinishesAFileStillHeld) {
    const BITMAPINFOHEADER bi = header24(8, 2);
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    ASSERT_TRUE(openOutput("C:\\held.avi", bi, file, stream));
    std::vector<std::uint8_t> image(bi.biSizeImage, 5);
    ASSERT_EQ(AVIStreamWrite(stream, 0, 1, image.data(), LONG(image.size()), AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_OK);
    const auto path = plat::nativePath("C:\\held.avi");
    endWithFilesOpen();
    EXPECT_NE(findId(readFile(path), "idx1"), std::string::npos);
    EXPECT_EQ(ffprobe(path).frames, 1);
}

}  // namespace
