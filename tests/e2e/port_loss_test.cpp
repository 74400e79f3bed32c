// No image the camera did not integrate: an exposure during which the camera
// port could not carry a write (its device failed or was gone) gives no
// image. Its readout is counted as one without an image, with the port's
// reason, and the status line says the camera is not controlled instead of
// the level asked for. An exposure the port carried throughout is written as
// ever, however the port fared between exposures. Every loss is told: the
// same device lost again after images were made again opens its boxes
// again; a device that comes and goes with no image between is counted.
#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <camport.h>

#include "avicap/stream_record.h"
#include "avifile/avi_reader.h"
#include "dialog_user.h"
#include "display/status_line.h"
#include "e2e_fixture.h"
#include "fake_port_device.h"
#include "files/paths.h"
#include "port/parallel_port.h"
#include "port_timeline.h"

namespace noctil::e2e {
namespace {

using Kind = noctil::test::FakePortDevice::Kind;
constexpr const char *kDevice = "/dev/noctil-fake-port";

struct Case {
    const char *name;  // the case's name in the test's
    Kind kind;
    bool quietly;                 // removed as ppdev's port is: its handle takes writes and carries nothing
    std::vector<int> pullDuring;  // the exposures (from 1) in whose middle the device goes
    int pullAfter;                // the exposure after whose readout it goes, before the next; 0: none
    std::vector<int> backBefore;  // the exposures before which it is back
    const char *levels;           // the data writes from Record on, "!" after one the port did not carry
    std::uint32_t images;
    std::uint32_t withoutImage;
    const char *reason;              // of the readouts without an image
    const char *lineWhileLost;       // what the status line says of the camera while the port is lost
    std::vector<std::string> boxes;  // the boxes in order, by their first lines
};

const std::string kGone = std::string("the camera port is gone: ") + kDevice + ": ";

class PortLossTest : public EndToEndTest, public ::testing::WithParamInterface<Case> {
protected:
    std::string statusLine() { return plat::status::compose(watcher_.gather(mainWindow())).text; }

    void closeBoxes() {
        user().after(20, [this] {
            if (noctil::test::findDialog("Error")) noctil::test::pressEnter();
            if (!stopped) closeBoxes();
        });
    }

    plat::status::Watcher watcher_;
    bool stopped = false;
};

// Each cycle writes the exposure level, the two readout levels and the rest
// level; Stop comes in the fifth exposure.
const std::string kEio = "input/output error (was the device unplugged?)";
const std::string kPortBox = "The camera port cannot be used.";
const std::string kPortAgainBox = "The camera port failed again.";
const std::string kNoImageBox = "No image from this readout: " + kGone + kEio + ".";

const Case kCases[] = {
    {"NothingLost",
     Kind::Serial,
     false,
     {},
     0,
     {},
     "0B 09 08 00 0B 09 08 00 0B 09 08 00 0B 09 08 00 0B",
     4,
     0,
     "",
     nullptr,
     {}},
    {"SerialPulledInExposure2BackBefore3",
     Kind::Serial,
     false,
     {2},
     0,
     {3},
     "0B 09 08 00 0B 09! 08! 00! 0B 09 08 00 0B 09 08 00 0B",
     3,
     1,
     kEio.c_str(),
     nullptr,
     {kPortBox, kNoImageBox}},
    {"PpdevRemovedInExposure2BackBefore3",
     Kind::Parallel,
     true,
     {2},
     0,
     {3},
     "0B 09 08 00 0B 09! 08! 00! 0B 09 08 00 0B 09 08 00 0B",
     3,
     1,
     "no such device",
     nullptr,
     {kPortBox, "No image from this readout: " + kGone + "no such device."}},
    // Told once: every later failure is the same, with no image between.
    {"SerialPulledInExposure1ForGood",
     Kind::Serial,
     false,
     {1},
     0,
     {},
     "0B 09! 08! 00! 0B! 09! 08! 00! 0B! 09! 08! 00! 0B! 09! 08! 00! 0B!",
     0,
     4,
     kEio.c_str(),
     "camera not controlled (the camera port is gone: ",
     {kPortBox, kNoImageBox}},
    // The old handle fails at the third exposure's first write; the device is
    // opened again at its readout, too late for that exposure.
    {"SerialPulledAndBackBetweenExposures2And3",
     Kind::Serial,
     false,
     {},
     2,
     {3},
     "0B 09 08 00 0B 09 08 00 0B! 09 08 00 0B 09 08 00 0B",
     3,
     1,
     kEio.c_str(),
     nullptr,
     {kPortBox, kNoImageBox}},
    // Lost again after an image was made: told again, port and readout.
    {"SerialLostTwiceWithAnImageBetween",
     Kind::Serial,
     false,
     {1, 3},
     0,
     {2, 4},
     "0B 09! 08! 00! 0B 09 08 00 0B 09! 08! 00! 0B 09 08 00 0B",
     2,
     2,
     kEio.c_str(),
     nullptr,
     {kPortBox, kNoImageBox, kPortAgainBox, kNoImageBox}},
    // Lost again before any image was made since: counted, not told again.
    {"SerialComingAndGoingWithoutAnImageBetween",
     Kind::Serial,
     false,
     {1, 2},
     0,
     {2, 3},
     "0B 09! 08! 00! 0B 09! 08! 00! 0B 09 08 00 0B 09 08 00 0B",
     2,
     2,
     kEio.c_str(),
     nullptr,
     {kPortBox, kNoImageBox}},
};

TEST_P(PortLossTest, AnExposureThePortDidNotCarryGivesNoImageAndEveryNewLossIsTold) {
    const Case &c = GetParam();
    installWatchedCamera();
    noctil::test::FakePortDevice device(kDevice, c.kind, c.kind == Kind::Serial ? 188 : 99);
    plat::ParallelPort &port = plat::session().component<plat::ParallelPort>();
    port.setBackend(c.kind == Kind::Serial ? plat::makeSerialPortBackend(kDevice, {}, {})
                                           : plat::makePpdevPortBackend(kDevice, {}));
    writeSettingsFile("[Filenames]\r\nImageFile=C:\\run.avi\r\n[Capture]\r\nExposure=1000\r\nDelay=1000\r\n");
    std::size_t fromRecord = 0;
    user().at(500, [&] {
        fromRecord = port.writes().size();
        choose(IDM_RECORD);
    });
    // Follows the cycle by its port writes: each exposure's start and readout.
    int exposures = 0, readouts = 0;
    bool exposing = false;
    std::string lineWhileLost;
    plat::Subscription cycle = port.subscribe([&](const plat::PortWrite &w) {
        if (w.address != plat::ParallelPort::kDataRegister) return;
        if (w.value == PORT_EXPOSE) {
            exposing = true;
            ++exposures;
            if (std::ranges::count(c.pullDuring, exposures)) user().after(500, [&] { device.unplug(c.quietly); });
            if (std::ranges::count(c.backBefore, exposures + 1) && c.pullAfter == 0)
                user().after(1800, [&] { device.plugIn(c.kind, c.kind == Kind::Serial ? 188 : 99); });
            if (c.lineWhileLost && exposures == 2) user().after(500, [&] { lineWhileLost = statusLine(); });
        } else if (exposing && (w.value == PORT_READOUT || w.value == PORT_READOUT_480)) {
            exposing = false;
            if (++readouts == c.pullAfter) {
                user().after(400, [&] { device.unplug(c.quietly); });
                user().after(700, [&] { device.plugIn(c.kind, c.kind == Kind::Serial ? 188 : 99); });
            }
            if (readouts == 4)
                user().after(1500, [&] {
                    stopped = true;
                    choose(IDM_STOP);
                    user().after(100, [&] { exitProgram(); });
                });
        }
    });
    closeBoxes();
    setTimeLimitMs(60000);
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(runProgram(), 0);
    ::testing::internal::GetCapturedStderr();
    cycle = {};

    // Stop and the program's end rest the port.
    const bool lostAtEnd =
        !c.pullDuring.empty() && (c.backBefore.empty() || c.backBefore.back() <= c.pullDuring.back());
    const std::string rests = lostAtEnd ? " 00! 00!" : " 00 00";
    EXPECT_EQ(noctil::test::carriedLevels(port.writes(), fromRecord), c.levels + rests);
    auto reader = plat::avi::Reader::open(plat::nativePath("C:\\run.avi"));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->frameCount(), c.images) << "only the exposures the port carried are images";
    const plat::avicap::ReadoutTally &tally = plat::session().component<plat::avicap::StreamRecords>().tally();
    EXPECT_EQ(tally.withoutImage, c.withoutImage);
    if (c.withoutImage != 0) {
        EXPECT_EQ(std::string(tally.reason), kGone + c.reason);
    }
    std::vector<std::string> told;
    for (const auto &box : noctil::test::messageBoxLog()) told.push_back(box.text.substr(0, box.text.find('\n')));
    EXPECT_EQ(told, c.boxes);
    if (c.lineWhileLost) {
        EXPECT_NE(lineWhileLost.find(c.lineWhileLost), std::string::npos) << lineWhileLost;
    }
    EXPECT_EQ(portLevel(), 0x00);
}

INSTANTIATE_TEST_SUITE_P(Losses, PortLossTest, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace noctil::e2e
