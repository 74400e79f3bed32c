// Converted files as other programs read them: FITS by astropy, SER by
// ffmpeg's SER demuxer; and what the converter says about bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "conversion.h"
#include "convert_test_support.h"
#include "options.h"
#include "platform_fixture.h"

namespace {

using convtest::astropyRead;
using convtest::shellQuoted;
using noctil::convert::Picture;

constexpr std::uint32_t kWidth = 7, kHeight = 5;  // rows of 21 bytes: padded in the AVI
constexpr std::size_t kImages = 3;

class ConverterTest : public ::testing::Test {
protected:
    ConverterTest() : dir_(noctil::test::makeTempDirectory("noctil-convert")) {}
    ~ConverterTest() override {
        std::error_code ignored;
        std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(dir_, ignored);
    }

    std::filesystem::path file(const std::string &name) const { return dir_ / name; }

    // The converter as the command line runs it.
    int convert(std::vector<std::string> args) { return convtest::runConverter(args, out, err); }

    // A run's output file M42_003.AVI with its log of every image.
    std::vector<Picture> makeRun(bool grey, std::size_t logLines = kImages) {
        std::vector<Picture> pictures = convtest::makePictures(kWidth, kHeight, kImages, grey);
        convtest::writeAvi(file("M42_003.AVI"), pictures);
        convtest::writeLog(file("M42_003.LOG"), convtest::logLines(logLines, kWidth, kHeight));
        return pictures;
    }

    std::string out, err;

private:
    std::filesystem::path dir_;
};

struct Colour {
    const char *name;
    bool grey;
};
void PrintTo(const Colour &c, std::ostream *os) { *os << c.name; }

class ConvertedFiles : public ConverterTest, public ::testing::WithParamInterface<Colour> {};

TEST_P(ConvertedFiles, FitsAsAstropyReadsThem) {
    const bool grey = GetParam().grey;
    const std::vector<Picture> pictures = makeRun(grey);
    ASSERT_EQ(convert({file("M42_003.AVI").string()}), 0) << err;
    EXPECT_EQ(err, "");

    std::vector<std::string> files;
    for (std::size_t k = 1; k <= kImages; ++k) files.push_back(file("M42_003_000" + std::to_string(k) + ".fits"));
    std::string messages;
    auto read = astropyRead(files, messages);
    ASSERT_EQ(messages, "") << "astropy complained";
    ASSERT_EQ(read.size(), kImages);

    const auto log = convtest::logLines(kImages, kWidth, kHeight);
    for (std::size_t k = 0; k < kImages; ++k) {
        SCOPED_TRACE(files[k]);
        auto &f = read[files[k]];
        EXPECT_EQ(f["shape"], grey ? "5 7" : "3 5 7");
        EXPECT_EQ(f["dtype"], "uint8");
        EXPECT_EQ(f["key BITPIX"], "8");
        EXPECT_EQ(f["key NAXIS"], grey ? "2" : "3");
        // Storage order: plane, then rows from the bottom of the image, then pixels.
        std::string data;
        const std::size_t pixels = std::size_t(kWidth) * kHeight;
        for (std::size_t c = 0; c < (grey ? 1u : 3u); ++c)
            for (std::size_t i = 0; i < pixels; ++i) {
                if (!data.empty()) data += ' ';
                data += std::to_string(pictures[k].rgb[3 * i + c]);
            }
        EXPECT_EQ(f["data"], data);
        EXPECT_EQ(f["key EXPTIME"], "2.5");
        EXPECT_EQ(f["key AMPOFF"], "1.5");
        EXPECT_EQ(f["key DATE-OBS"], plat::imagelog::formatUtc(*log[k].exposeStart));
        EXPECT_EQ(f["key DATE-END"], plat::imagelog::formatUtc(*log[k].exposeEnd));
        EXPECT_EQ(f["key DATE-OBS"], k == 0   ? "2000-01-01T00:00:00.000000"
                                     : k == 1 ? "2000-01-01T00:00:10.000000"
                                              : "2000-01-01T00:00:20.000000");
        EXPECT_EQ(f["key TIMESYS"], "UTC");
        EXPECT_NEAR(std::stod(f["key MJD-OBS"]), 51544.0 + double(10 * k) / 86400, 1e-10);
        EXPECT_EQ(f["key INSTRUME"], "Test camera");
        EXPECT_EQ(f["key IMAGENUM"], std::to_string(k + 1));
        EXPECT_EQ(f["key ROWORDER"], "BOTTOM-UP");
        EXPECT_EQ(f["key DATE"].size(), 19u) << "the date the file was written: " << f["key DATE"];
    }
}

std::int64_t le64(const std::vector<std::uint8_t> &b, std::size_t at) {
    std::int64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | b[at + std::size_t(i)];
    return v;
}

TEST_P(ConvertedFiles, SerAsFfmpegReadsItWithATimeForEachImage) {
    const bool grey = GetParam().grey;
    const std::vector<Picture> pictures = makeRun(grey);
    ASSERT_EQ(convert({"--ser", file("M42_003.AVI").string()}), 0) << err;
    EXPECT_EQ(err, "");
    const std::filesystem::path ser = file("M42_003.ser");

    std::string probe, messages;
    ASSERT_EQ(convtest::runCommand("ffprobe -v warning -f ser -count_frames -select_streams v:0 -show_entries "
                                   "stream=width,height,pix_fmt,nb_read_frames -of default=noprint_wrappers=1 " +
                                       shellQuoted(ser),
                                   probe, messages),
              0);
    EXPECT_EQ(messages, "");
    EXPECT_EQ(probe, std::string("width=7\nheight=5\npix_fmt=") + (grey ? "gray" : "rgb24") + "\nnb_read_frames=3\n");

    // Every frame as ffmpeg decodes it: top row first.
    const std::filesystem::path raw = file("frames.raw");
    std::string ignored;
    ASSERT_EQ(convtest::runCommand("ffmpeg -v warning -f ser -i " + shellQuoted(ser) + " -f rawvideo -pix_fmt " +
                                       (grey ? "gray " : "rgb24 ") + shellQuoted(raw),
                                   ignored, messages),
              0);
    EXPECT_EQ(messages, "");
    std::vector<std::uint8_t> expected;
    for (const Picture &p : pictures)
        for (std::size_t row = 0; row < kHeight; ++row)
            for (std::size_t x = 0; x < kWidth; ++x)
                for (std::size_t c = 0; c < (grey ? 1u : 3u); ++c)
                    expected.push_back(p.rgb[((kHeight - 1 - row) * kWidth + x) * 3 + c]);
    EXPECT_EQ(convtest::readBytes(raw), expected);

    // ffmpeg gives frames its own 25-a-second times; the images' own start
    // times are the trailer behind the frames, in 100 ns ticks since year 1.
    const std::vector<std::uint8_t> bytes = convtest::readBytes(ser);
    const std::size_t frames = 178 + expected.size();
    ASSERT_EQ(bytes.size(), frames + kImages * 8);
    const auto log = convtest::logLines(kImages, kWidth, kHeight);
    for (std::size_t k = 0; k < kImages; ++k)
        EXPECT_EQ(le64(bytes, frames + 8 * k), (*log[k].exposeStart + 62'135'596'800'000'000) * 10) << k;
    EXPECT_EQ(le64(bytes, 170), (*log[0].exposeStart + 62'135'596'800'000'000) * 10) << "the header's UTC start";
}

INSTANTIATE_TEST_SUITE_P(Images, ConvertedFiles, ::testing::Values(Colour{"Grey", true}, Colour{"Colour", false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ConverterTest, WithoutALogTheImagesHaveNoTimes) {
    convtest::writeAvi(file("n.avi"), convtest::makePictures(kWidth, kHeight, 2, true));
    ASSERT_EQ(convert({"--ser", file("n.avi").string()}), 0);
    EXPECT_NE(err.find("no image log beside"), std::string::npos) << err;
    EXPECT_EQ(convtest::readBytes(file("n.ser")).size(), 178u + 2 * kWidth * kHeight) << "no trailer";
    ASSERT_EQ(convert({file("n.avi").string()}), 0);
    std::string messages;
    auto read = astropyRead({file("n_0001.fits")}, messages);
    EXPECT_EQ(messages, "");
    EXPECT_EQ(read[file("n_0001.fits")].count("key DATE-OBS"), 0u);
    EXPECT_EQ(read[file("n_0001.fits")].count("key EXPTIME"), 0u);
}

TEST_F(ConverterTest, ALastImageWithoutItsLineIsConvertedWithoutTimes) {
    makeRun(true, kImages - 1);
    ASSERT_EQ(convert({"--ser", file("M42_003.AVI").string()}), 0) << err;
    EXPECT_NE(err.find("image 3 has no line in the log"), std::string::npos) << err;
    EXPECT_NE(err.find("no time trailer"), std::string::npos) << err;
    ASSERT_EQ(convert({file("M42_003.AVI").string()}), 0) << err;
    std::string messages;
    auto read = astropyRead({file("M42_003_0002.fits"), file("M42_003_0003.fits")}, messages);
    EXPECT_EQ(messages, "");
    EXPECT_EQ(read[file("M42_003_0002.fits")]["key EXPTIME"], "2.5");
    EXPECT_EQ(read[file("M42_003_0003.fits")].count("key EXPTIME"), 0u);
}

// Cuts `file` in the middle of the data of its last frame chunk (the last
// "00db" before the index, whose entries carry the same id).
void cutInsideLastFrame(const std::filesystem::path &file) {
    const std::vector<std::uint8_t> bytes = convtest::readBytes(file);
    std::size_t last = std::string::npos;
    for (std::size_t i = 0; i + 4 <= bytes.size(); ++i) {
        if (std::equal(bytes.begin() + std::ptrdiff_t(i), bytes.begin() + std::ptrdiff_t(i + 4), "idx1")) break;
        if (std::equal(bytes.begin() + std::ptrdiff_t(i), bytes.begin() + std::ptrdiff_t(i + 4), "00db")) last = i;
    }
    ASSERT_NE(last, std::string::npos);
    std::filesystem::resize_file(file, last + 8 + 10);
}

TEST_F(ConverterTest, BadInputIsReportedAndNothingIsWritten) {
    const struct {
        const char *what;
        std::function<void()> prepare;
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {"a missing file", [] {}, {"none.avi"}, "cannot open "},
        {"a file that is no AVI file",
         [this] { std::ofstream(file("text.avi")) << "SIMPLE  =                    T / not a movie\n"; },
         {"text.avi"},
         "text.avi is not an AVI file (it does not begin with a RIFF 'AVI ' header)"},
        {"an AVI file cut inside its headers",
         [this] {
             makeRun(true);
             std::filesystem::resize_file(file("M42_003.AVI"), 100);
         },
         {"M42_003.AVI"},
         "M42_003.AVI is damaged: its headers are cut off or malformed"},
        {"an AVI file of compressed video",
         [this] { convtest::writeAviOfFormat(file("mjpg.avi"), 0x47504A4D, 2, 500); },
         {"mjpg.avi"},
         "mjpg.avi holds video in a format the converter cannot read ('MJPG')"},
        {"a log of more images than the file",
         [this] {
             makeRun(true);
             convtest::writeLog(file("M42_003.LOG"), convtest::logLines(kImages + 1, kWidth, kHeight));
         },
         {"M42_003.AVI"},
         "does not match"},
        {"a log of another frame size",
         [this] {
             makeRun(true);
             convtest::writeLog(file("M42_003.LOG"), convtest::logLines(kImages, 640, 480));
         },
         {"M42_003.AVI"},
         "line 2: frames of 640x480 but the file's images are 7x5. Use --no-log"},
        {"a given log that is missing",
         [this] { makeRun(true); },
         {"--log", "gone.log", "M42_003.AVI"},
         "cannot read the log "},
        {"an output directory that is a file",
         [this] {
             makeRun(true);
             std::ofstream(file("plain")) << "x";
         },
         {"-o", "plain", "M42_003.AVI"},
         "plain is not a directory"},
        {"an output that would be the input itself",
         [this] { std::filesystem::copy_file(file("M42_003.AVI"), file("run.ser")); },
         {"--ser", "--force", "--no-log", "run.ser"},
         "run.ser is the input file itself"},
        {"an output directory that does not exist",
         [this] { makeRun(true); },
         {"-o", "nowhere", "M42_003.AVI"},
         "nowhere does not exist"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        c.prepare();
        std::vector<std::string> args;
        for (const std::string &a : c.args) args.push_back(a[0] == '-' ? a : file(a).string());
        EXPECT_EQ(convert(args), 1);
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_EQ(err.rfind("noctil-convert: ", 0), 0u) << err;
        for (const auto &entry : std::filesystem::directory_iterator(file("")))
            EXPECT_NE(entry.path().extension(), ".fits") << entry.path();
    }
    EXPECT_EQ(convtest::readBytes(file("run.ser")), convtest::readBytes(file("M42_003.AVI"))) << "the input stays";
}

TEST_F(ConverterTest, AFileCutInsideAnImageGivesTheCompleteImagesAndSaysSo) {
    makeRun(true);
    cutInsideLastFrame(file("M42_003.AVI"));
    ASSERT_EQ(convert({"--no-log", file("M42_003.AVI").string()}), 0) << err;
    EXPECT_NE(err.find("is cut off: its header counts 3 images, 2 are complete"), std::string::npos) << err;
    EXPECT_TRUE(std::filesystem::exists(file("M42_003_0002.fits")));
    EXPECT_FALSE(std::filesystem::exists(file("M42_003_0003.fits")));
}

TEST_F(ConverterTest, NothingIsReplacedUnlessTheUserSaysSo) {
    makeRun(true);
    ASSERT_EQ(convert({file("M42_003.AVI").string()}), 0) << err;
    std::filesystem::remove(file("M42_003_0001.fits"));
    std::ofstream(file("M42_003_0002.fits")) << "mine";

    EXPECT_EQ(convert({file("M42_003.AVI").string()}), 1);
    EXPECT_NE(err.find("M42_003_0002.fits exists (and 1 more of the files to write); nothing was written. Use --force"),
              std::string::npos)
        << err;
    EXPECT_FALSE(std::filesystem::exists(file("M42_003_0001.fits"))) << "nothing written when anything is in the way";
    EXPECT_EQ(convtest::readBytes(file("M42_003_0002.fits")).size(), 4u);

    ASSERT_EQ(convert({"--force", file("M42_003.AVI").string()}), 0) << err;
    std::string messages;
    auto read = astropyRead({file("M42_003_0002.fits")}, messages);
    EXPECT_EQ(messages, "");
    EXPECT_EQ(read[file("M42_003_0002.fits")]["key IMAGENUM"], "2");

    ASSERT_EQ(convert({"--ser", file("M42_003.AVI").string()}), 0) << err;
    EXPECT_EQ(convert({"--ser", file("M42_003.AVI").string()}), 1);
    EXPECT_NE(err.find("M42_003.ser exists; nothing was written"), std::string::npos) << err;
}

// A directory where a file is to go is never replaced, not even with --force.
TEST_F(ConverterTest, ADirectoryInTheWayIsNeverReplaced) {
    makeRun(true);
    std::filesystem::create_directory(file("M42_003_0002.fits"));
    for (bool force : {true, false}) {
        SCOPED_TRACE(force ? "--force" : "without --force");
        std::vector<std::string> args = {file("M42_003.AVI").string()};
        if (force) args.insert(args.begin(), "--force");
        EXPECT_EQ(convert(args), 1);
        EXPECT_NE(err.find("M42_003_0002.fits is a directory; nothing was written"), std::string::npos) << err;
        EXPECT_TRUE(std::filesystem::is_directory(file("M42_003_0002.fits")));
        EXPECT_FALSE(std::filesystem::exists(file("M42_003_0001.fits"))) << "nothing written";
    }
    std::filesystem::remove(file("M42_003_0002.fits"));
    std::filesystem::create_directory(file("M42_003.ser"));
    EXPECT_EQ(convert({"--ser", "--force", file("M42_003.AVI").string()}), 1);
    EXPECT_TRUE(std::filesystem::is_directory(file("M42_003.ser")));
}

// Run by root, the conversion runs in a child process as the unprivileged
// user "nobody", for whom permissions count.
TEST_F(ConverterTest, AnOutputDirectoryWithoutWritePermissionIsRefused) {
    makeRun(true);
    namespace fs = std::filesystem;
    fs::create_directory(file("locked"));
    fs::permissions(file("locked"), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(file(""), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        const int code = convert({"-o", file("locked").string(), file("M42_003.AVI").string()});
        const bool written = ::write(fds[1], err.data(), err.size()) == ssize_t(err.size());
        ::_exit(written ? code : 4);
    }
    ::close(fds[1]);
    std::string message;
    char buffer[256];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) message.append(buffer, std::size_t(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(message.find("cannot write in " + file("locked").string() + ": Permission denied"), std::string::npos)
        << message;
    EXPECT_TRUE(fs::is_empty(file("locked")));
}

}  // namespace
