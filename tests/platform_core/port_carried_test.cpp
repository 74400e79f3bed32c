// The port's log says of every write whether its backend carried it, and of
// the last exposure whether every write of it, from its integration level to
// the level that ended it, was carried: a write that fails is noticed at
// that write, for a serial line that does not change too.
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "fake_port_device.h"
#include "platform_fixture.h"
#include "port/parallel_port.h"
#include "port_timeline.h"

namespace {

using Kind = noctil::test::FakePortDevice::Kind;
constexpr const char *kDevice = "/dev/noctil-fake-port";

struct Case {
    const char *name;  // the case's name in the test's
    Kind kind;
    // Steps: a level to write ("0B"), "pull" (the device goes; its handle
    // answers EIO), "remove" (it goes as ppdev's port does: the handle takes
    // the writes and carries nothing), "plug" (it is back).
    std::vector<std::string> steps;
    const char *log;  // the data writes, "!" after one not carried
    std::uint64_t exposuresEnded;
    bool lastCarried;
    const char *lossReason;
};

const Case kCases[] = {
    {"AllCarried", Kind::Serial, {"00", "0B", "09", "08", "00"}, "00 0B 09 08 00", 1, true, ""},
    {"SerialPulledInTheExposure",
     Kind::Serial,
     {"00", "0B", "pull", "09", "08", "00"},
     "00 0B 09! 08! 00!",
     1,
     false,
     "the camera port is gone: /dev/noctil-fake-port: input/output error (was the device unplugged?)"},
    // Rest to rest leaves the lines as they are; the adapter is asked anyway.
    {"SerialPulledAtRestNoticedAtAWriteThatChangesNoLine",
     Kind::Serial,
     {"00", "08", "pull", "00"},
     "00 08 00!",
     0,
     true,
     "the camera port is gone: /dev/noctil-fake-port: input/output error (was the device unplugged?)"},
    {"PpdevRemovedInTheExposure",
     Kind::Parallel,
     {"00", "0B", "remove", "09", "00"},
     "00 0B 09! 00!",
     1,
     false,
     "the camera port is gone: /dev/noctil-fake-port: no such device"},
    // The device lost between exposures and back before the next: that one
    // is carried, from the rest level the backend writes first.
    {"SerialBackBeforeTheNextExposure",
     Kind::Serial,
     {"00", "0B", "09", "00", "pull", "08", "plug", "0B", "09", "00"},
     "00 0B 09 00 08! 0B 09 00",
     2,
     true,
     "the camera port is gone: /dev/noctil-fake-port: input/output error (was the device unplugged?)"},
    // Gone for a moment of an exposure only: that one is no exposure as
    // set; the next is carried again.
    {"TheExposureAfterOneGoneWithinIt",
     Kind::Serial,
     {"00", "0F", "pull", "0B", "plug", "09", "00", "0B", "09"},
     "00 0F 0B! 09 00 0B 09",
     2,
     true,
     "the camera port is gone: /dev/noctil-fake-port: input/output error (was the device unplugged?)"},
    {"SerialGoneAndBackWithinTheExposure",
     Kind::Serial,
     {"00", "0F", "pull", "0B", "plug", "09"},
     "00 0F 0B! 09",
     1,
     false,
     "the camera port is gone: /dev/noctil-fake-port: input/output error (was the device unplugged?)"},
};

class PortCarriedTest : public noctil::test::PlatformTest, public ::testing::WithParamInterface<Case> {};

TEST_P(PortCarriedTest, TheLogSaysWhatTheBackendCarried) {
    const Case &c = GetParam();
    noctil::test::FakePortDevice device(kDevice, c.kind, 188);
    plat::ParallelPort &port = plat::session().component<plat::ParallelPort>();
    port.setBackend(c.kind == Kind::Serial ? plat::makeSerialPortBackend(kDevice, {}, {})
                                           : plat::makePpdevPortBackend(kDevice, {}));
    const std::size_t from = port.writes().size();
    ::testing::internal::CaptureStderr();
    for (const std::string &step : c.steps) {
        if (step == "pull")
            device.unplug();
        else if (step == "remove")
            device.unplug(/*quietly=*/true);
        else if (step == "plug")
            device.plugIn(c.kind, 188);
        else
            port.write(plat::ParallelPort::kDataRegister, static_cast<std::uint8_t>(std::stoi(step, nullptr, 16)));
    }
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(noctil::test::carriedLevels(port.writes(), from), c.log);
    EXPECT_EQ(port.exposuresEnded(), c.exposuresEnded);
    EXPECT_EQ(port.lastExposureCarried(), c.lastCarried);
    EXPECT_EQ(port.lossReason(), c.lossReason);
}

INSTANTIATE_TEST_SUITE_P(Writes, PortCarriedTest, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
