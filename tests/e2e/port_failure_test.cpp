// A camera port that fails is never silent: the person sees a message box
// naming the device and the reason, once, at start or from the message loop
// after the write that failed, and standard error keeps the details. The program then goes on as
// it would without a port: the run continues, every write is still logged,
// and nothing else is shown.
#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "avicap/stream_record.h"
#include "dialog_user.h"
#include "e2e_fixture.h"
#include "files/paths.h"
#include "port/parallel_port.h"

namespace noctil::e2e {
namespace {

// A port device that works for `goodWrites` writes, then fails as an
// unplugged USB adapter does.
class UnpluggedBackend final : public plat::PortBackend {
public:
    explicit UnpluggedBackend(int goodWrites) : left_(goodWrites) {}
    std::string_view name() const override { return "unplugged"; }
    void write(std::uint16_t, std::uint8_t) override {
        if (failed() || left_-- > 0) return;
        fail({"/dev/ttyUSB0", plat::failureReason(EIO), "ioctl(/dev/ttyUSB0, TIOCMSET) failed: Input/output error"});
    }

private:
    int left_;
};

class PortFailureTest : public EndToEndTest {
protected:
    // Records two exposures of 1 s (ended at the second readout, which no
    // image may follow), closing every message box as it comes.
    int recordTwoImages() {
        writeSettingsFile("[Filenames]\r\nImageFile=C:\\run.avi\r\n[Capture]\r\nExposure=1000\r\nCount=2\r\n");
        closeBoxes();
        user().at(500, [&] { choose(IDM_RECORD); });
        onTitle = [&](const std::string &title) {
            if (title == "C:\\run.avi - 2/2") user().after(100, [&] { exitProgram(); });
        };
        plat::ParallelPort &port = plat::session().component<plat::ParallelPort>();
        readoutsSubscription = port.subscribe([&](const plat::PortWrite &w) {
            if (w.address == plat::ParallelPort::kDataRegister && w.value == 0x0B) ++exposures;
            if (exposures == 3 && !exitAsked) {
                exitAsked = true;
                user().after(100, [&] { exitProgram(); });
            }
        });
        setTimeLimitMs(60000);
        ::testing::internal::CaptureStderr();
        const int code = runProgram();
        stderrText = ::testing::internal::GetCapturedStderr();
        readoutsSubscription = {};
        return code;
    }
    void closeBoxes(std::uint32_t afterMs = 0) {
        user().after(afterMs, [&] {
            if (noctil::test::findDialog("Error")) {
                boxTimesMs.push_back(nowMs());
                noctil::test::pressEnter();
            }
            if (titles.size() < 2 && !exitAsked) closeBoxes(50);
        });
    }
    std::vector<std::uint32_t> boxTimesMs;
    std::string stderrText;
    plat::Subscription readoutsSubscription;
    int exposures = 0;
    bool exitAsked = false;
};

TEST_F(PortFailureTest, AMissingDeviceIsShownAtStartAndTheRunGoesOn) {
    installWatchedCamera();
    const std::string device = plat::nativePath("C:\\parport7").string();
    plat::session().component<plat::ParallelPort>().setBackend(plat::makePpdevPortBackend(device, {}));
    ASSERT_EQ(recordTwoImages(), 0);
    const auto &boxes = noctil::test::messageBoxLog();
    // The port's box, however many writes fail; and the first readout's,
    // which gave no image.
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxTimesMs.front(), 0u);
    EXPECT_NE(boxes[1].text.find("No image from this readout: the camera port is gone: " + device + ": no such device"),
              std::string::npos)
        << boxes[1].text;
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_NE(boxes[0].text.find(device + ": no such device"), std::string::npos) << boxes[0].text;
    EXPECT_EQ(boxes[0].time, 0) << "shown at start, at the first write";
    EXPECT_NE(stderrText.find("open(" + device + ") failed: No such file or directory"), std::string::npos)
        << stderrText;
    // The run went on, every level logged; the port carried no exposure, so
    // no readout gave an image.
    EXPECT_EQ(exposures, 3);
    EXPECT_EQ(plat::session().component<plat::avicap::StreamRecords>().tally().withoutImage, 2u);
    EXPECT_EQ(portLevel(), 0x00);
}

TEST_F(PortFailureTest, AWriteThatFailsMidRunIsShownOnceItHasReturned) {
    installWatchedCamera();
    // The start writes two rest levels; the device goes at the fourth write,
    // the readout level of the first image.
    plat::session().component<plat::ParallelPort>().setBackend(std::make_unique<UnpluggedBackend>(3));
    ASSERT_EQ(recordTwoImages(), 0);
    const auto &boxes = noctil::test::messageBoxLog();
    // The port's box, then the readout's that met the failure.
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_FALSE(boxTimesMs.empty());
    EXPECT_NE(boxes[0].text.find("/dev/ttyUSB0: input/output error (was the device unplugged?)"), std::string::npos)
        << boxes[0].text;
    EXPECT_NE(boxes[1].text.find("No image from this readout: the camera port is gone: /dev/ttyUSB0: input/output"),
              std::string::npos)
        << boxes[1].text;
    EXPECT_GT(boxes[0].time, 500000) << "not before the run";
    EXPECT_NE(stderrText.find("TIOCMSET) failed"), std::string::npos) << stderrText;
    // The device went at the first readout and stayed away: no image.
    EXPECT_EQ(exposures, 3);
    EXPECT_EQ(plat::session().component<plat::avicap::StreamRecords>().tally().withoutImage, 2u);
    const auto writes = plat::session().component<plat::ParallelPort>().writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().value, 0x00);
}

// The box of a write that fails inside a timer handler opens only once the
// handler has returned: a Stop chosen while it is open ends the run for good,
// and no readout follows it.
TEST_F(PortFailureTest, AStopChosenWhileThePortsBoxIsOpenIsNotUndone) {
    installWatchedCamera();
    // Two rest levels at start, the amplifier-off level at Record; the
    // device goes at the fourth write, when the amplifier goes on.
    plat::session().component<plat::ParallelPort>().setBackend(std::make_unique<UnpluggedBackend>(3));
    writeSettingsFile("[Filenames]\r\nImageFile=C:\\run.avi\r\n[Flags]\r\nAmpOff=1\r\n[Capture]\r\nExposure=3000\r\n");
    user().at(500, [&] { choose(IDM_RECORD); });
    std::uint32_t boxAtMs = 0;
    const std::function<void()> answer = [&] {
        if (noctil::test::findDialog("Error")) {
            boxAtMs = nowMs();
            choose(IDM_STOP);
            noctil::test::pressEnter();
            user().after(10000, [&] { exitProgram(); });
            return;
        }
        user().after(50, answer);
    };
    user().at(600, answer);
    setTimeLimitMs(60000);
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(runProgram(), 0);
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(noctil::test::messageBoxLog().size(), 1u);
    EXPECT_GE(boxAtMs, 2500u);
    std::vector<std::uint8_t> levels;
    for (const plat::PortWrite &w : plat::session().component<plat::ParallelPort>().writes())
        if (w.address == plat::ParallelPort::kDataRegister) levels.push_back(w.value);
    // Start, start, Record (amplifier off), amplifier on (fails), Stop, exit:
    // no readout level after the Stop.
    const std::vector<std::uint8_t> expected = {0x00, 0x00, 0x0F, 0x0B, 0x00, 0x00};
    EXPECT_EQ(levels, expected);
}

}  // namespace
}  // namespace noctil::e2e
