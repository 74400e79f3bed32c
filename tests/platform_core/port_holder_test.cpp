// One camera port, one owner: a port whose device (ppdev, serial) or lock
// file (an I/O address) another process holds is refused at the first
// write, and the person is told which process holds it.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "port/port_backend.h"
#include "port/port_holder.h"
#include "lock_holder.h"
#include "test_session.h"

namespace {

struct HeldCase {
    const char *backend;
    // The backend on `dir`, and the file whose lock stands for its port.
    std::function<std::unique_ptr<plat::PortBackend>(const std::filesystem::path &dir, plat::PortFailureSink)> make;
    std::function<std::filesystem::path(const std::filesystem::path &dir)> lockFile;
    std::function<std::string(const std::filesystem::path &dir)> device;
};

// A plain file stands in for the device node: the lock is taken right after
// it is opened, before anything asks what kind of device it is.
// clang-format off
const HeldCase kHeld[] = {
    {"ppdev",
     [](const auto &dir, auto sink) { return plat::makePpdevPortBackend(dir / "parport0", std::move(sink)); },
     [](const auto &dir) { return dir / "parport0"; },
     [](const auto &dir) { return (dir / "parport0").string(); }},
    {"serial",
     [](const auto &dir, auto sink) { return plat::makeSerialPortBackend(dir / "ttyS0", {}, std::move(sink)); },
     [](const auto &dir) { return dir / "ttyS0"; },
     [](const auto &dir) { return (dir / "ttyS0").string(); }},
    {"direct",
     [](const auto &dir, auto sink) { return plat::makeDirectPortBackend(0x378, std::move(sink), dir); },
     [](const auto &dir) { return plat::ioPortLockFile(dir, 0x378); },
     [](const auto &) { return std::string("I/O address 0x378"); }},
};
// clang-format on

TEST(PortHolder, APortAnotherProcessHoldsIsRefusedNamingIt) {
    for (const HeldCase &c : kHeld) {
        SCOPED_TRACE(c.backend);
        const std::filesystem::path dir = noctil::test::makeTempDirectory("noctil-port-holder");
        noctil::test::LockHolder holder(c.lockFile(dir));
        ASSERT_TRUE(holder.held());
        std::vector<plat::PortFailure> reports;
        auto backend = c.make(dir, [&](const plat::PortFailure &f) { reports.push_back(f); });
        backend->write(plat::kProgramDataRegister, 0x00);
        backend->write(plat::kProgramDataRegister, 0x0B);
        ASSERT_EQ(reports.size(), 1u) << "told once";
        EXPECT_EQ(reports[0].device, c.device(dir));
        EXPECT_EQ(reports[0].reason, "in use by " + holder.named());
        EXPECT_TRUE(backend->failed());
        std::filesystem::remove_all(dir);
    }
}

// A program that held the port and crashed keeps nobody out: the kernel let
// its lock go. What the stand-in device then says (no parallel port, no
// permission for I/O) is the backend's own business.
TEST(PortHolder, APortWhoseHolderCrashedIsNotInUse) {
    for (const HeldCase &c : kHeld) {
        SCOPED_TRACE(c.backend);
        const std::filesystem::path dir = noctil::test::makeTempDirectory("noctil-port-holder");
        noctil::test::LockHolder holder(c.lockFile(dir), noctil::test::LockHolder::Open::Reading,
                                        noctil::test::LockHolder::Ending::AtOnce);
        ASSERT_TRUE(holder.held());
        std::vector<plat::PortFailure> reports;
        auto backend = c.make(dir, [&](const plat::PortFailure &f) { reports.push_back(f); });
        backend->write(plat::kProgramDataRegister, 0x00);
        for (const plat::PortFailure &f : reports) EXPECT_EQ(f.reason.find("in use"), std::string::npos) << f.reason;
        std::filesystem::remove_all(dir);
    }
}

TEST(PortHolder, TheLockFileOfAnIoAddressIsNamedAfterIt) {
    EXPECT_EQ(plat::ioPortLockFile("/run/lock", 0x378), "/run/lock/noctil-port-0x378.lock");
    EXPECT_EQ(plat::ioPortLockFile("/tmp", 0xD010), "/tmp/noctil-port-0xD010.lock");
}

TEST(PortHolder, NobodyElseHoldsAFileOnlyThisProcessHasOpen) {
    const std::filesystem::path dir = noctil::test::makeTempDirectory("noctil-port-holder");
    const std::filesystem::path file = dir / "parport0";
    const int fd = open(file.c_str(), O_RDONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(plat::lockPort(fd));
    EXPECT_EQ(plat::portHolder(file), "");
    close(fd);
    std::filesystem::remove_all(dir);
}

}  // namespace
