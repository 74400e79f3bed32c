#include <conio.h>

#include <string>
#include <vector>

#include "alloc_counter.h"
#include "files/paths.h"
#include "platform_fixture.h"
#include "port/parallel_port.h"


namespace {

using plat::ParallelPort;
using plat::PortWrite;

constexpr std::uint16_t kData = 0x378;

class PortTest : public PlatformTest {
protected:
    void advanceMs(plat::Micros ms) {
        auto &clock = plat::session().clock();
        clock.sleepUntil(clock.now() + ms * 1000);
    }
    static plat::PortFailureSink recorder(std::vector<std::string> &reports) {
        return [&reports](const std::string &line) { reports.push_back(line); };
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
    const int first = port.subscribe([&](const PortWrite &w) { heard.push_back("first " + std::to_string(w.value)); });
    port.subscribe([&](const PortWrite &w) {
        heard.push_back("second " + std::to_string(w.value) + " at " + std::to_string(w.time) +
                        " data " + std::to_string(port.data()));
    });
    advanceMs(5);
    port.write(kData, 11);
    port.unsubscribe(first);
    port.write(kData, 9);
    port.unsubscribe(12345);  // unknown ids are ignored
    EXPECT_EQ(heard, (std::vector<std::string>{"first 11", "second 11 at 5000 data 11", "second 9 at 5000 data 9"}));
}

TEST_F(PortTest, ListenersMayChangeTheListFromInsideACall) {
    auto &port = plat::session().component<ParallelPort>();
    std::vector<std::string> heard;
    int once = 0;
    once = port.subscribe([&](const PortWrite &w) {
        heard.push_back("once " + std::to_string(w.value));
        port.unsubscribe(once);
        port.subscribe([&](const PortWrite &v) { heard.push_back("late " + std::to_string(v.value)); });
    });
    port.subscribe([&](const PortWrite &w) { heard.push_back("steady " + std::to_string(w.value)); });
    port.write(kData, 1);
    port.write(kData, 2);
    EXPECT_EQ(heard, (std::vector<std::string>{"once 1", "steady 1", "steady 2", "late 2"}));
}

TEST_F(PortTest, AFullLogDropsTheOldestWithoutAllocating) {
    ParallelPort port(plat::makeSimulatedPortBackend(), 4);
    int heard = 0;
    port.subscribe([&](const PortWrite &) { ++heard; });
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
    TearDown();
    SetUp();
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
    std::size_t reports;
};

TEST_F(PortTest, SystemIniChoosesTheBackend) {
    const BackendCase cases[] = {
        {nullptr, "simulated", 0},
        {"[drivers32]\nmsvideo=simcam\n", "simulated", 0},
        {"[parallel]\nbackend=simulated\n", "simulated", 0},
        {"[Parallel]\r\nBackend = PPDEV\r\ndevice=/dev/null-port\r\n", "ppdev", 0},
        {"[parallel]\nbackend=direct\n", "direct", 0},
        {"[parallel]\nbackend=usb\n", "simulated", 1},
    };
    const auto file = plat::windowsDirectory() / "system.ini";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.systemIni ? c.systemIni : "no system.ini");
        std::error_code ec;
        std::filesystem::remove(file, ec);
        if (c.systemIni) writeAll(file, c.systemIni);
        std::vector<std::string> reports;
        auto backend = plat::makeConfiguredPortBackend(file, kData, recorder(reports));
        EXPECT_EQ(backend->name(), c.backend);
        EXPECT_EQ(reports.size(), c.reports);
    }
    // The session's port reads the same file.
    writeAll(file, "[parallel]\nbackend=ppdev\n");
    EXPECT_EQ(plat::session().component<ParallelPort>().backend().name(), "ppdev");
}

struct FailureCase {
    const char *what;
    std::string device;
    const char *namedCall;
};

TEST_F(PortTest, PpdevFailureIsReportedOnceAndWritesAreStillLogged) {
    writeAll(root() / "not-a-port", "");
    const FailureCase cases[] = {
        {"missing device", (root() / "no-parport0").string(), "open("},
        {"device that is no port", (root() / "not-a-port").string(), "PPCLAIM"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> reports;
        ParallelPort port(plat::makePpdevPortBackend(c.device, kData, recorder(reports)));
        EXPECT_TRUE(reports.empty()) << "the device is opened at the first write, not before";
        port.write(kData, 0x0B);
        port.write(kData, 0x08);
        port.write(kData, 0x00);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_NE(reports[0].find(c.namedCall), std::string::npos) << reports[0];
        EXPECT_NE(reports[0].find(c.device), std::string::npos) << reports[0];
        EXPECT_EQ(port.writes().size(), 3u);
        EXPECT_EQ(port.data(), 0x00);
    }
}

TEST_F(PortTest, DirectBackendRefusesAddressesOutsideThePort) {
    std::vector<std::string> reports;
    auto backend = plat::makeDirectPortBackend(kData, recorder(reports));
    backend->write(0x80, 1);
    backend->write(0x3F8, 2);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("I/O address 128"), std::string::npos) << reports[0];
}

}  // namespace
