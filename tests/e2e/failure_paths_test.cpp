// A run whose files fail under it, through the real program on the
// simulated camera: temporary files that cannot be made, an output drive
// that fills. What the user is told, what the port does, what the file holds.
#include <camport.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "dialog_user.h"
#include "e2e_fixture.h"
#include "write_doubles.h"
#include "files/paths.h"
#include "port/parallel_port.h"
#include "port_timeline.h"

namespace noctil::e2e {
namespace {

namespace fs = std::filesystem;
using noctil::test::messageBoxLog;
using noctil::test::messageBoxTexts;
using noctil::test::pressEnter;

constexpr std::uint8_t kIdle = PORT_IDLE, kExpose = PORT_EXPOSE;
constexpr const char *kSettings =
    "[Filenames]\r\nImageFile=D:\\night.avi\r\n[Capture]\r\nExposure=2000\r\nDelay=0\r\nCount=3\r\n";

std::size_t writesOf(std::uint8_t value) {
    std::size_t n = 0;
    for (const plat::PortWrite &w : noctil::test::cameraPortWrites()) n += w.value == value;
    return n;
}

// A folder with a file in it, so nothing deletes it by accident, in place
// of the file of that name.
void makeFolder(const char *windowsName) {
    const fs::path folder = plat::nativePath(windowsName);
    fs::remove(folder);
    fs::create_directories(folder);
    std::ofstream(folder / "keep") << "x";
}

struct TemporaryFailure {
    const char *name;
    int afterImages;               // images written before the failure starts
    std::function<void()> start;   // makes the temporary files fail
    std::function<void()> repair;  // and lets them work again
    const char *message;
};

const TemporaryFailure kTemporaryFailures[] = {
    {"DriveCFull", 1, [] { plat::setDriveSize('c', 0); }, [] { plat::setDriveSize('c', std::nullopt); },
     "Can't capture to AVI file C:\\_NOCTIL1.AVI\nThere is not enough space on the disk."},
    {"CaptureFileIsAFolder", 1, [] { makeFolder("C:\\_NOCTIL1.AVI"); },
     [] { fs::remove_all(plat::nativePath("C:\\_NOCTIL1.AVI")); },
     "Can't delete AVI file C:\\_NOCTIL1.AVI\nAccess is denied."},
    {"CopyIsAFolderFromTheStart", 0, [] { makeFolder("C:\\_NOCTIL2.AVI"); },
     [] { fs::remove_all(plat::nativePath("C:\\_NOCTIL2.AVI")); },
     "Can't delete AVI file C:\\_NOCTIL2.AVI\nAccess is denied."},
};
void PrintTo(const TemporaryFailure &c, std::ostream *os) { *os << c.name; }

class TemporaryFileFailure : public EndToEndTest, public ::testing::WithParamInterface<TemporaryFailure> {};

// Images that could not be made are neither written nor counted; the user
// is told once, in a box that does not hold the cycle up; once the files
// work again the run ends with three images of three exposures.
TEST_P(TemporaryFileFailure, NoImageStandsInAndTheCycleGoesOn) {
    const TemporaryFailure &c = GetParam();
    installWatchedCamera();
    writeSettingsFile(kSettings);
    std::size_t exposuresAtFailure = 0;
    auto fail = [&] {
        c.start();
        exposuresAtFailure = writesOf(kExpose);
        // Three cycles of about 2.2 s later the box is still waiting for its
        // answer, and the cycle has gone on without it.
        user().after(9000, [&] {
            ASSERT_EQ(messageBoxLog().size(), 1u);
            EXPECT_NE(messageBoxLog()[0].window, nullptr) << "the box is open";
            EXPECT_GE(writesOf(kExpose), exposuresAtFailure + 3);
            EXPECT_EQ(titles.size(), std::size_t(c.afterImages)) << "nothing counted while the files fail";
            c.repair();
            pressEnter();
        });
    };
    user().at(500, [&] {
        if (c.afterImages == 0) fail();
        choose(IDM_RECORD);
    });
    onTitle = [&](const std::string &) {
        if (int(titles.size()) == c.afterImages && c.afterImages > 0) fail();
        if (titles.size() == 3) user().after(500, [&] { exitProgram(); });
    };
    setTimeLimitMs(60000);
    ASSERT_EQ(runProgram(), 0);

    EXPECT_EQ(messageBoxTexts(), std::vector<std::string>{c.message});
    EXPECT_EQ(titles, (std::vector<std::string>{"D:\\night.avi - 1/3", "D:\\night.avi - 2/3", "D:\\night.avi - 3/3"}));
    const std::vector<Image> images = readImages(plat::nativePath("D:\\night.avi"));
    ASSERT_EQ(images.size(), 3u);
    for (std::size_t a = 0; a < images.size(); ++a)
        for (std::size_t b = a + 1; b < images.size(); ++b)
            EXPECT_NE(images[a].pixels, images[b].pixels) << "images " << a << " and " << b << " are one image";
}

INSTANTIATE_TEST_SUITE_P(Failures, TemporaryFileFailure, ::testing::ValuesIn(kTemporaryFailures),
                         [](const auto &info) { return std::string(info.param.name); });

constexpr std::uint8_t kReadout = PORT_READOUT, kReadout480 = PORT_READOUT_480;
constexpr unsigned R = noctil::test::kPortAfterReadout;
constexpr unsigned L = noctil::test::kPortReadoutLevel;
constexpr std::uint32_t kExitAfterStopMs = 8000;

// The output drive fills while the second image is written: the run stops
// at once as Stop does, so the camera rests and the menu offers Record.
const noctil::test::ExpectedPortWrite kStopAtTheFailedWrite[] = {
    {kExpose, 0},
    {kReadout480, 2000, L},
    {kReadout, 2000, L},
    {kIdle, 2000, R},
    {kExpose, 0, R},
    {kReadout480, 2000, L},
    {kReadout, 2000, L},
    {kIdle, 2000, R},
    {kIdle, 0},  // the run stops right after the failed write
    {kIdle, kExitAfterStopMs},
};

class OutputDriveFull : public EndToEndTest {};

// The box comes after the run has stopped, never inside the cycle; the file
// is finished with the image written before.
TEST_F(OutputDriveFull, AFailedWriteStopsTheRunAndThenSaysWhy) {
    installWatchedCamera();
    writeSettingsFile("[Filenames]\r\nImageFile=D:\\night.avi\r\n[Capture]\r\nExposure=2000\r\nDelay=0\r\n");
    std::size_t recordIndex = 0;
    user().at(500, [&] {
        recordIndex = noctil::test::cameraPortWrites().size();
        exitAfterWrite(kIdle, 3, kExitAfterStopMs);
        choose(IDM_RECORD);
    });
    onTitle = [&](const std::string &) {
        if (titles.size() != 1) return;
        plat::setDriveSize('d', fs::file_size(plat::nativePath("D:\\night.avi")) + 4096);
        user().after(6000, [&] {
            ASSERT_EQ(messageBoxLog().size(), 1u);
            EXPECT_NE(messageBoxLog()[0].window, nullptr) << "the box is open";
            EXPECT_EQ(portLevel(), kIdle);
            EXPECT_TRUE(menuEnabled(IDM_RECORD));
            EXPECT_FALSE(menuEnabled(IDM_STOP));
            pressEnter();
        });
    };
    setTimeLimitMs(60000);
    ASSERT_EQ(runProgram(), 0);

    EXPECT_EQ(messageBoxTexts(), std::vector<std::string>{"Can't write image to AVI file D:\\night.avi\n"
                                                          "There is not enough space on the disk."});
    EXPECT_EQ(titles, std::vector<std::string>{"D:\\night.avi - 1"});
    EXPECT_TRUE(noctil::test::portTimelineMatches(kStopAtTheFailedWrite, recordIndex, 500,
                                                  noctil::test::readoutAllowanceMs(noctil::test::Camera::Simulated)));
    EXPECT_EQ(readImages(plat::nativePath("D:\\night.avi")).size(), 1u);
}

}  // namespace
}  // namespace noctil::e2e
