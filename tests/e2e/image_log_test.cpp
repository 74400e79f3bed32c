// The image log beside the output file, from a real program run on the
// simulated camera: its times are the port's writes and the readout frames
// to the microsecond, and it keeps up with the file through a kill.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "avicap/simcam.h"
#include "avifile/avi_reader.h"
#include "core/utc.h"
#include "e2e_fixture.h"
#include "files/paths.h"
#include "imagelog/image_log.h"
#include "write_doubles.h"
#include "port/parallel_port.h"
#include "port_timeline.h"
#include "../imagelog/utc_oracle.h"
#include "conversion.h"
#include "convert_test_support.h"

namespace noctil::e2e {
namespace {

using noctil::test::utcTextByCalendar;

std::string readText(const std::filesystem::path &file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Complete lines (each with its "\n"), and what follows the last of them.
std::vector<std::string> completeLines(const std::string &text, std::string *tail = nullptr) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start + 1));
    if (tail) *tail = text.substr(start);
    return lines;
}

std::size_t framesInFile(const std::filesystem::path &file) {
    auto reader = plat::avi::Reader::open(file);
    return reader ? reader->frameCount() : 0;
}

std::string utc(plat::Micros clockTime) { return utcTextByCalendar(plat::kVirtualClockUtcOrigin + clockTime); }

std::string seconds(plat::Micros micros) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(micros / 1'000'000),
                  static_cast<long long>(micros % 1'000'000));
    return text;
}

class ImageLogTest : public EndToEndTest {
protected:
    // Three images of 3 s with the amplifier off but for the last second,
    // into `file`; the program ends itself after the third.
    void prepareRun(const char *file) {
        installWatchedCamera();
        writeSettingsFile(std::string("[Filenames]\r\nImageFile=") + file +
                          "\r\n[Flags]\r\nAmpOff=1\r\n[Capture]\r\nExposure=3000\r\nDelay=700\r\nCount=3\r\n");
        user().at(500, [&] { choose(IDM_RECORD); });
        onTitle = [&](const std::string &) {
            if (titles.size() == 3) user().after(300, [&] { exitProgram(); });
        };
        setTimeLimitMs(60000);
    }

    // Runs the program in a child process after `arm`; gives waitpid's status.
    int runInChild(const std::function<void()> &arm) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            arm();
            const int code = runProgram();
            ::_exit(code == 0 && !::testing::Test::HasFailure() ? 0 : 1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    }
};

TEST_F(ImageLogTest, TimesAreThePortWritesAndTheReadoutFrames) {
    prepareRun("C:\\M42_003.AVI");
    ASSERT_EQ(runProgram(), 0);

    // What the port and the camera saw, read independently of the log.
    struct Expected {
        plat::Micros start = -1, ampOn = -1, end = -1, idle = -1;
    };
    std::vector<Expected> exposures;
    for (const plat::PortWrite &w : noctil::test::cameraPortWrites()) {
        if (w.value == 0x0F) exposures.push_back({w.time});
        if (exposures.empty()) continue;
        Expected &e = exposures.back();
        if (w.value == 0x0B && e.ampOn < 0) e.ampOn = w.time;
        if ((w.value == 0x09 || w.value == 0x08) && e.end < 0) e.end = w.time;
        if (w.value == 0x00 && e.end >= 0 && e.idle < 0) e.idle = w.time;
    }
    ASSERT_EQ(exposures.size(), 3u);
    const std::string driver = plat::avicap::kSimulatedCameraDescription;

    const std::string text = readText(plat::nativePath("C:\\M42_003.LOG"));
    const std::vector<std::string> lines = completeLines(text);
    ASSERT_EQ(lines.size(), 4u) << text;
    EXPECT_EQ(lines[0], std::string(plat::imagelog::headerLine()) + "\n");
    for (std::size_t k = 0; k < 3; ++k) {
        const Expected &e = exposures[k];
        // The readout frames: captured for the readout stream, from the
        // frame at which the port left the exposure until the port went idle.
        std::vector<plat::Micros> readout;
        for (const FrameRecord &f : camera->frames)
            if (f.streamed && f.port != 0x00 && f.time >= e.end && f.time <= e.idle) readout.push_back(f.time);
        ASSERT_FALSE(readout.empty());
        EXPECT_EQ(readout.front(), e.end);
        const std::string expected = std::to_string(k + 1) + "\t" + utc(e.start) + "\t" + utc(e.end) + "\t" +
                                     seconds(e.end - e.start) + "\t" + seconds(e.ampOn - e.start) + "\t" +
                                     utc(readout.front()) + "\t" + utc(readout.back()) + "\t" +
                                     std::to_string(readout.size()) + "\t" + driver + "\t640x480 RGB24\t0.000000\n";
        EXPECT_EQ(lines[k + 1], expected) << "image " << k + 1;
    }
    // The first exposure began when Record was chosen, half a second in.
    EXPECT_EQ(lines[1].substr(0, 28), "1\t2000-01-01T00:00:00.500000");
    EXPECT_EQ(framesInFile(plat::nativePath("C:\\M42_003.AVI")), 3u);
}

// Killed at any moment, the log has a line for every image in the file but
// at most the last, and every line it has is the line an undisturbed run
// writes.
TEST_F(ImageLogTest, EveryImageButAtMostTheLastHasItsLineAfterAKill) {
    prepareRun("C:\\kill.avi");
    const std::filesystem::path avi = plat::nativePath("C:\\kill.avi");
    const std::filesystem::path log = plat::nativePath("C:\\kill.log");

    ASSERT_EQ(runInChild([] {}), 0) << "the undisturbed run";
    const std::string reference = readText(log);
    const std::vector<std::string> referenceLines = completeLines(reference);
    ASSERT_EQ(referenceLines.size(), 4u) << reference;
    ASSERT_EQ(framesInFile(avi), 3u);

    struct Kill {
        std::string what;
        std::function<void()> arm;
    };
    std::vector<Kill> kills;
    // At each write to the camera's port (exposure starts and ends, readout
    // levels, idle after each image) ...
    for (int k = 1; k <= 16; ++k)
        kills.push_back({"port write " + std::to_string(k), [k, held = std::make_shared<plat::Subscription>()] {
                             auto count = std::make_shared<int>(0);
                             *held = plat::session().component<plat::ParallelPort>().subscribe(
                                 [k, count](const plat::PortWrite &w) {
                                     if (w.address == 0x378 && ++*count == k) ::raise(SIGKILL);
                                 });
                         }});
    // ... and around the log's own writes: before a line, inside one, right after one.
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < referenceLines.size(); ++i) {
        for (const std::uint64_t at : {offset, offset + 1, offset + referenceLines[i].size() / 2})
            kills.push_back({"log byte " + std::to_string(at), [at] { plat::imagelog::killAfterLogBytes(at); }});
        offset += referenceLines[i].size();
    }

    std::size_t lastWithoutLine = 0, cutLines = 0;  // the cases that matter most, seen
    for (const Kill &kill : kills) {
        SCOPED_TRACE(kill.what);
        std::error_code ignored;
        std::filesystem::remove(avi, ignored);
        std::filesystem::remove(log, ignored);
        const int status = runInChild(kill.arm);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

        const std::size_t images = framesInFile(avi);
        std::string tail;
        const std::vector<std::string> lines = completeLines(readText(log), &tail);
        const std::size_t imageLines = lines.empty() ? 0 : lines.size() - 1;
        EXPECT_LE(imageLines, images);
        EXPECT_GE(imageLines + 1, images) << "an image before the last has no line";
        lastWithoutLine += imageLines + 1 == images;
        cutLines += !tail.empty();
        for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], referenceLines[i]) << "line " << i;
        if (!tail.empty()) {
            ASSERT_LT(lines.size(), referenceLines.size());
            EXPECT_EQ(referenceLines[lines.size()].rfind(tail, 0), 0u) << "the cut line is the start of its line";
        }
    }
    EXPECT_GE(lastWithoutLine, 3u);
    EXPECT_GE(cutLines, 6u);
}

// Whole-frame video (a 320 x 240 test driver): three readout frames; and the
// log's times carried by the converter into FITS and SER files.
TEST_F(ImageLogTest, WholeFrameTimesReachTheConvertedFiles) {
    installCamera(noctil::test::Camera::Test240);
    writeSettingsFile("[Filenames]\r\nImageFile=C:\\run.avi\r\n[Capture]\r\nExposure=2000\r\nCount=2\r\n");
    user().at(500, [&] { choose(IDM_RECORD); });
    onTitle = [&](const std::string &) {
        if (titles.size() == 2) user().after(300, [&] { exitProgram(); });
    };
    setTimeLimitMs(60000);
    ASSERT_EQ(runProgram(), 0);

    std::vector<plat::Micros> starts, ends;
    for (const plat::PortWrite &w : noctil::test::cameraPortWrites()) {
        if (w.value == 0x0B) starts.push_back(w.time);
        if (w.value == 0x08 && ends.size() < starts.size()) ends.push_back(w.time);
    }
    ASSERT_EQ(starts.size(), 2u);
    ASSERT_EQ(ends.size(), 2u);
    const std::vector<std::string> lines = completeLines(readText(plat::nativePath("C:\\run.log")));
    ASSERT_EQ(lines.size(), 3u);
    for (std::size_t k = 0; k < 2; ++k) {
        const std::string prefix = std::to_string(k + 1) + "\t" + utc(starts[k]) + "\t" + utc(ends[k]) +
                                   "\t2.000000\t0.000000\t" + utc(ends[k]) + "\t";
        EXPECT_EQ(lines[k + 1].substr(0, prefix.size()), prefix);
        EXPECT_NE(lines[k + 1].find("\t3\tTest capture driver\t320x240 RGB24\t0.000000\n"), std::string::npos) << lines[k + 1];
    }

    const std::filesystem::path avi = plat::nativePath("C:\\run.avi");
    std::ostringstream out, err;
    noctil::convert::Options fits;
    fits.input = avi;
    ASSERT_EQ(noctil::convert::convert(fits, out, err), 0) << err.str();
    std::string messages;
    auto read =
        convtest::astropyRead({avi.parent_path() / "run_0001.fits", avi.parent_path() / "run_0002.fits"}, messages);
    EXPECT_EQ(messages, "");
    for (std::size_t k = 0; k < 2; ++k) {
        auto &f = read[(avi.parent_path() / ("run_000" + std::to_string(k + 1) + ".fits")).string()];
        EXPECT_EQ(f["shape"], "240 320") << "the test driver's frames are grey";
        EXPECT_EQ(f["key DATE-OBS"], utc(starts[k]));
        EXPECT_EQ(f["key DATE-END"], utc(ends[k]));
        EXPECT_EQ(f["key EXPTIME"], "2.0");
        EXPECT_EQ(f["key INSTRUME"], "Test capture driver");
    }

    noctil::convert::Options ser = fits;
    ser.kind = noctil::convert::OutputKind::Ser;
    ASSERT_EQ(noctil::convert::convert(ser, out, err), 0) << err.str();
    const std::vector<std::uint8_t> bytes = convtest::readBytes(avi.parent_path() / "run.ser");
    ASSERT_EQ(bytes.size(), 178u + 2 * 320 * 240 + 2 * 8);
    for (std::size_t k = 0; k < 2; ++k) {
        std::int64_t ticks = 0;
        for (int i = 7; i >= 0; --i) ticks = ticks << 8 | bytes[178 + 2 * 320 * 240 + 8 * k + std::size_t(i)];
        EXPECT_EQ(ticks, (plat::kVirtualClockUtcOrigin + starts[k] + 62'135'596'800'000'000) * 10) << k;
    }
}

}  // namespace
}  // namespace noctil::e2e
