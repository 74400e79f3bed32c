#include <conio.h>

#include <cerrno>
#include <string>
#include <vector>

#include <sys/ioctl.h>

#include "alloc_counter.h"
#include "fake_port_device.h"
#include "files/paths.h"
#include "platform_fixture.h"
#include "port/parallel_port.h"
#include "profile/ini_file.h"

namespace {

using noctil::test::PlatformTest;
using noctil::test::readAll;
using noctil::test::TestSession;
using noctil::test::writeAll;

using plat::ParallelPort;
using plat::PortWrite;

constexpr std::uint16_t kData = 0x378;

class PortTest : public PlatformTest {
protected:
    void advanceMs(plat::Micros ms) {
        auto &clock = plat::session().clock();
        clock.sleepUntil(clock.now() + ms * 1000);
    }
    static plat::PortFailureSink recorder(std::vector<plat::PortFailure> &reports) {
        return [&reports](const plat::PortFailure &f) { reports.push_back(f); };
    }
};

struct ExpectedWrite {
    plat::Micros time;
    std::uint16_t address;
    std::uint8_t value;
};

void expectWrites(std::span<const PortWrite> actual, std::span<const ExpectedWrite> expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("write " + std::to_string(i));
        EXPECT_EQ(actual[i].time, expected[i].time);
        EXPECT_EQ(actual[i].address, expected[i].address);
        EXPECT_EQ(actual[i].value, expected[i].value);
    }
}

TEST_F(PortTest, OutpLogsEveryWriteWithItsClockTime) {
    auto &port = plat::session().component<ParallelPort>();
    EXPECT_EQ(port.data(), 0);
    EXPECT_EQ(port.backend().name(), "simulated");

    EXPECT_EQ(_outp(kData, 0x0F), 0x0F);
    advanceMs(1001);
    EXPECT_EQ(_outp(kData, 0x0B), 0x0B);
    advanceMs(1000);
    EXPECT_EQ(_outp(kData, 0x108), 0x08);  // only the low byte reaches the port
    EXPECT_EQ(_outp(kData + 2, 0x04), 0x04);

    const ExpectedWrite expected[] = {
        {0, kData, 0x0F},
        {1'001'000, kData, 0x0B},
        {2'001'000, kData, 0x08},
        {2'001'000, kData + 2, 0x04},
    };
    expectWrites(port.writes(), expected);
    EXPECT_EQ(port.data(), 0x08);  // the control register is not the data register
    EXPECT_EQ(port.droppedWrites(), 0u);
}

TEST_F(PortTest, ListenersHearEachWriteInSubscriptionOrder) {
    auto &port = plat::session().component<ParallelPort>();
    std::vector<std::string> heard;
    plat::Subscription first =
        port.subscribe([&](const PortWrite &w) { heard.push_back("first " + std::to_string(w.value)); });
    const plat::Subscription second = port.subscribe([&](const PortWrite &w) {
        heard.push_back("second " + std::to_string(w.value) + " at " + std::to_string(w.time) + " data " +
                        std::to_string(port.data()));
    });
    advanceMs(5);
    port.write(kData, 11);
    first.reset();
    port.write(kData, 9);
    first.reset();  // a second reset does nothing
    EXPECT_EQ(heard, (std::vector<std::string>{"first 11", "second 11 at 5000 data 11", "second 9 at 5000 data 9"}));
}

TEST_F(PortTest, ListenersMayChangeTheListFromInsideACall) {
    auto &port = plat::session().component<ParallelPort>();
    std::vector<std::string> heard;
    plat::Subscription once, late;
    once = port.subscribe([&](const PortWrite &w) {
        heard.push_back("once " + std::to_string(w.value));
        once.reset();
        late = port.subscribe([&](const PortWrite &v) { heard.push_back("late " + std::to_string(v.value)); });
    });
    const plat::Subscription steady =
        port.subscribe([&](const PortWrite &w) { heard.push_back("steady " + std::to_string(w.value)); });
    port.write(kData, 1);
    port.write(kData, 2);
    EXPECT_EQ(heard, (std::vector<std::string>{"once 1", "steady 1", "steady 2", "late 2"}));
}

TEST_F(PortTest, AFullLogDropsTheOldestWithoutAllocating) {
    plat::Notices notices;
    ParallelPort port(plat::session().clock(), notices, plat::makeSimulatedPortBackend(), 4);
    int heard = 0;
    const plat::Subscription counter = port.subscribe([&](const PortWrite &) { ++heard; });
    alloc_counter::start();
    for (int i = 0; i < 10; ++i) {
        advanceMs(1);
        port.write(kData, static_cast<std::uint8_t>(i));
    }
    EXPECT_EQ(alloc_counter::stop(), 0u);
    EXPECT_EQ(heard, 10);
    const ExpectedWrite newest[] = {{7000, kData, 6}, {8000, kData, 7}, {9000, kData, 8}, {10000, kData, 9}};
    expectWrites(port.writes(), newest);
    EXPECT_EQ(port.droppedWrites(), 6u);
    EXPECT_EQ(port.data(), 9);
}

TEST_F(PortTest, TheSessionPortHoldsItsFullCapacityWithoutAllocating) {
    auto &port = plat::session().component<ParallelPort>();
    EXPECT_EQ(port.logCapacity(), ParallelPort::kLogCapacity);
    const std::size_t total = 3 * ParallelPort::kLogCapacity + 5;
    alloc_counter::start();
    for (std::size_t i = 0; i < total; ++i) _outp(kData, static_cast<int>(i & 0xFF));
    EXPECT_EQ(alloc_counter::stop(), 0u);
    ASSERT_EQ(port.writes().size(), ParallelPort::kLogCapacity);
    EXPECT_EQ(port.droppedWrites(), total - ParallelPort::kLogCapacity);
    EXPECT_EQ(port.writes().back().value, static_cast<std::uint8_t>((total - 1) & 0xFF));
    EXPECT_EQ(port.writes().front().value, static_cast<std::uint8_t>((total - ParallelPort::kLogCapacity) & 0xFF));
}

TEST_F(PortTest, EachSessionStartsWithAFreshPort) {
    _outp(kData, 0x0B);
    EXPECT_EQ(plat::session().component<ParallelPort>().writes().size(), 1u);
    endSession();
    TestSession next(root());
    EXPECT_EQ(plat::session().component<ParallelPort>().writes().size(), 0u);
    EXPECT_EQ(plat::session().component<ParallelPort>().data(), 0);
}

TEST_F(PortTest, OutpWithoutASessionDoesNothing) {
    endSession();
    EXPECT_EQ(_outp(kData, 0x0F), 0x0F);
    EXPECT_FALSE(plat::hasSession());
}

struct BackendCase {
    const char *systemIni;  // null: no file
    const char *backend;
    const char *complaint;  // in the reason of the one report; null: no report
};

TEST_F(PortTest, SystemIniChoosesTheBackendAndRefusesWhatItCannotUse) {
    const BackendCase cases[] = {
        {nullptr, "simulated", nullptr},
        {"[drivers32]\nmsvideo=simcam\n", "simulated", nullptr},
        {"[parallel]\nbackend=simulated\n", "simulated", nullptr},
        {"[Parallel]\r\nBackend = PPDEV\r\ndevice=/dev/null-port\r\n", "ppdev", nullptr},
        {"[parallel]\nbackend=direct\n", "direct", nullptr},
        {"[parallel]\nbackend=direct\naddress=0x278\n", "direct", nullptr},
        {"[parallel]\nbackend=direct\naddress=888\n", "direct", nullptr},
        {"[parallel]\nbackend=direct\naddress=0xE800\n", "direct", nullptr},
        {"[parallel]\nbackend=serial\ndevice=/dev/ttyUSB0\n", "serial", nullptr},
        {"[parallel]\nbackend=serial\ndtr=0\nrts=7\ndtr_inverted=1\nrts_inverted=0\n", "serial", nullptr},
        // What it cannot use gives the port that drives nothing, and says why.
        {"[parallel]\nbackend=usb\n", "simulated", "unknown backend \"usb\""},
        {"[parallel]\nbackend=\n", "simulated", "unknown backend \"\""},
        {"[parallel]\nbackend=direct\naddress=0x37G\n", "simulated", "address=0x37G"},
        {"[parallel]\nbackend=direct\naddress=\n", "simulated", "address="},
        {"[parallel]\nbackend=direct\naddress=-1\n", "simulated", "address=-1"},
        {"[parallel]\nbackend=direct\naddress=0\n", "simulated", "address=0"},
        {"[parallel]\nbackend=direct\naddress=0xFFFE\n", "simulated", "address=0xFFFE"},
        {"[parallel]\nbackend=direct\naddress=0x10378\n", "simulated", "address=0x10378"},
        {"[parallel]\nbackend=direct\naddress=0x\n", "simulated", "address=0x"},
        {"[parallel]\nbackend=serial\ndtr=8\n", "simulated", "dtr=8"},
        {"[parallel]\nbackend=serial\nrts=-1\n", "simulated", "rts=-1"},
        {"[parallel]\nbackend=serial\nrts=two\n", "simulated", "rts=two"},
        {"[parallel]\nbackend=serial\ndtr_inverted=yes\n", "simulated", "dtr_inverted=yes"},
        {"[parallel]\nbackend=serial\nrts_inverted=2\n", "simulated", "rts_inverted=2"},
    };
    const auto file = plat::windowsDirectory() / "system.ini";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.systemIni ? c.systemIni : "no system.ini");
        std::error_code ec;
        std::filesystem::remove(file, ec);
        if (c.systemIni) writeAll(file, c.systemIni);
        std::vector<plat::PortFailure> reports;
        auto backend = plat::makeConfiguredPortBackend(
            {file.string(), plat::readIniSection(file, "parallel")}, recorder(reports));
        EXPECT_EQ(backend->name(), c.backend);
        if (!c.complaint) {
            EXPECT_TRUE(reports.empty());
            continue;
        }
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_NE(reports[0].reason.find(c.complaint), std::string::npos) << reports[0].reason;
        EXPECT_NE(reports[0].device.find("system.ini [parallel]"), std::string::npos) << reports[0].device;
    }
    // A session made on the root has the port the same file names.
    writeAll(file, "[parallel]\nbackend=ppdev\n");
    endSession();
    TestSession next(root());
    EXPECT_EQ(plat::session().component<ParallelPort>().backend().name(), "ppdev");
}

struct FailureCase {
    const char *what;
    std::string device;
    bool serial;
    const char *reason;
    const char *namedCall;
};

TEST_F(PortTest, ABackendThatCannotOpenItsDeviceSaysWhichAndWhyOnce) {
    writeAll(root() / "not-a-port", "");
    const FailureCase cases[] = {
        {"missing parallel device", (root() / "no-parport0").string(), false, "no such device", "open("},
        {"parallel device that is no port", (root() / "not-a-port").string(), false, "not a parallel port", "PPEXCL"},
        {"a character device that is no port", "/dev/null", false, "not a parallel port", "PPEXCL"},
        {"missing serial device", (root() / "no-ttyUSB0").string(), true, "no such device", "open("},
        {"serial device that is a file", (root() / "not-a-port").string(), true, "not a serial port", "TIOCMGET"},
        {"serial device that is no tty", "/dev/null", true, "not a serial port", "TIOCMGET"},
        {"a directory", root().string(), true, "Is a directory", "open("},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<plat::PortFailure> reports;
        auto backend = c.serial ? plat::makeSerialPortBackend(c.device, {}, recorder(reports))
                                : plat::makePpdevPortBackend(c.device, recorder(reports));
        EXPECT_TRUE(reports.empty()) << "the device is opened at the first write, not before";
        backend->write(kData, 0x00);
        backend->write(kData, 0x0B);
        backend->write(kData, 0x00);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].device, c.device);
        EXPECT_EQ(reports[0].reason, c.reason);
        EXPECT_NE(reports[0].detail.find(c.namedCall), std::string::npos) << reports[0].detail;
        EXPECT_NE(reports[0].detail.find(c.device), std::string::npos) << reports[0].detail;
        EXPECT_TRUE(backend->failed());
    }
}

TEST(PortFailureReason, NamesWhatAPersonCanActOn) {
    const std::pair<int, const char *> cases[] = {
        {EACCES, "permission denied"},
        {EPERM, "permission denied"},
        {ENOENT, "no such device"},
        {ENODEV, "the device is not there"},
        {ENXIO, "the device is not there"},
        {EBUSY, "busy (claimed by another program)"},
        {EIO, "input/output error (was the device unplugged?)"},
    };
    for (auto [error, reason] : cases) EXPECT_EQ(plat::failureReason(error), reason) << error;
}

TEST_F(PortTest, DirectBackendIgnoresAddressesOutsideThePort) {
    std::vector<plat::PortFailure> reports;
    auto backend = plat::makeDirectPortBackend(0x278, recorder(reports));
    backend->write(0x80, 1);
    backend->write(0x3F8, 2);
    backend->write(0x37B, 3);
    EXPECT_TRUE(reports.empty());
    EXPECT_FALSE(backend->failed());
}

}  // namespace

// A device pulled out mid-run (a USB adapter) is reported once and let go;
// while it is away the writes go nowhere and say nothing more; once it is
// back the next write opens it again and puts the lines to rest first. A
// device that comes back as another kind of device is reported once and not
// used.
TEST_F(PortTest, ABackendWhoseDeviceGoesAndComesBackUsesItAgainFromTheRestLevel) {
    using Kind = noctil::test::FakePortDevice::Kind;
    struct Case {
        const char *what;
        Kind kind;
        std::vector<int> expose, away, back;  // what the device saw after each step
    };
    const int dtr = TIOCM_DTR, both = TIOCM_DTR | TIOCM_RTS;
    const Case cases[] = {
        {"ppdev", Kind::Parallel, {0x00, 0x0B}, {0x00, 0x0B}, {0x00, 0x0B, 0x00, 0x0F}},
        {"serial", Kind::Serial, {0, dtr}, {0, dtr}, {0, dtr, 0, both}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        noctil::test::FakePortDevice device("/dev/noctil-fake-port", c.kind, 188);
        std::vector<plat::PortFailure> reports;
        auto backend = c.kind == Kind::Serial ? plat::makeSerialPortBackend(device.path(), {}, recorder(reports))
                                              : plat::makePpdevPortBackend(device.path(), recorder(reports));
        backend->write(kData, 0x00);
        backend->write(kData, 0x0B);
        EXPECT_EQ(device.levels, c.expose);

        device.unplug();
        backend->write(kData, 0x08);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].reason, plat::failureReason(EIO));
        EXPECT_FALSE(reports[0].otherDevice);
        EXPECT_EQ(device.opens, device.closes) << "let go at once";
        for (std::uint8_t v : {0x00, 0x0F, 0x0B}) backend->write(kData, v);
        EXPECT_EQ(reports.size(), 1u) << "nothing more while it is away";
        EXPECT_EQ(device.levels, c.away);

        device.plugIn(c.kind, 188);
        backend->write(kData, 0x0F);
        EXPECT_EQ(device.levels, c.back) << "the rest level first, then the level asked for";
        EXPECT_FALSE(backend->failed());
        EXPECT_EQ(reports.size(), 1u);

        // Gone again, and back as another kind of device: told once, not used.
        device.unplug();
        backend->write(kData, 0x00);
        ASSERT_EQ(reports.size(), 2u) << "a device lost again is reported again";
        device.plugIn(c.kind, 166);
        const std::size_t seen = device.levels.size();
        for (std::uint8_t v : {0x0B, 0x08, 0x00}) backend->write(kData, v);
        ASSERT_EQ(reports.size(), 3u);
        EXPECT_TRUE(reports[2].otherDevice);
        EXPECT_NE(reports[2].reason.find("came back as another device"), std::string::npos) << reports[2].reason;
        EXPECT_EQ(device.levels.size(), seen) << "nothing reaches another device";
        EXPECT_EQ(device.opens, device.closes);
        device.plugIn(c.kind == Kind::Serial ? Kind::Parallel : Kind::Serial, 188);
        backend->write(kData, 0x0B);
        EXPECT_EQ(reports.size(), 3u) << "another device is told of once";
        EXPECT_EQ(device.levels.size(), seen);
    }
}

// The parallel port's driver goes on accepting writes to a port it removed
// and carries them nowhere. The backend learns it from the node that went,
// tells it after the first write that went nowhere, lets the port go (so
// that it comes back under its own name) and, once it is back, writes the
// rest level first. A node replaced between two writes is a device gone and
// back at once.
TEST_F(PortTest, APpdevPortRemovedUnderItsOpenHandleIsToldLetGoAndUsedAgainFromTheRestLevel) {
    using Kind = noctil::test::FakePortDevice::Kind;
    noctil::test::FakePortDevice device("/dev/noctil-fake-port", Kind::Parallel, 99);
    std::vector<plat::PortFailure> reports;
    auto backend = plat::makePpdevPortBackend(device.path(), recorder(reports));
    backend->write(kData, 0x00);
    backend->write(kData, 0x0B);

    device.unplug(/*quietly=*/true);
    backend->write(kData, 0x09);
    ASSERT_EQ(reports.size(), 1u) << "the removed port is told of at the next write";
    EXPECT_EQ(reports[0].device, device.path());
    EXPECT_EQ(reports[0].reason, plat::failureReason(ENOENT));
    EXPECT_FALSE(reports[0].otherDevice);
    EXPECT_EQ(device.opens, device.closes) << "let go at once";
    for (std::uint8_t v : {0x08, 0x00, 0x0B}) backend->write(kData, v);
    EXPECT_EQ(reports.size(), 1u) << "nothing more while it is away";

    device.plugIn(Kind::Parallel, 99);
    backend->write(kData, 0x0F);
    EXPECT_EQ(device.levels, (std::vector<int>{0x00, 0x0B, 0x00, 0x0F})) << "the rest level first";
    EXPECT_FALSE(backend->failed());

    device.unplug(/*quietly=*/true);
    device.plugIn(Kind::Parallel, 99);
    backend->write(kData, 0x08);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].reason, plat::failureReason(ENODEV));
    EXPECT_EQ(device.opens, device.closes) << "the old node let go";
    backend->write(kData, 0x0B);
    EXPECT_EQ(device.levels, (std::vector<int>{0x00, 0x0B, 0x00, 0x0F, 0x00, 0x0B}));
    EXPECT_EQ(device.opens, device.closes + 1) << "only the new node is held";
}
