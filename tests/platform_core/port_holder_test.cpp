// One camera port, one owner: a port whose device (ppdev, serial) or lock
// file (an I/O address) another process holds is refused at the first
// write, and the person is told which process holds it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "port/port_backend.h"
#include "port/port_holder.h"
#include "test_session.h"

namespace {

// Another process that holds the lock of `file` until it is let go.
class Holder {
public:
    explicit Holder(const std::filesystem::path &file) {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls in the child of a threaded process.
            // Its copy of the release pipe's end is closed, so that the
            // parent's closing ends the wait.
            close(ready[0]);
            close(release[1]);
            const int fd = open(file.c_str(), O_RDONLY | O_CREAT, 0644);
            const char held = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 1 : 0;
            (void)!write(ready[1], &held, 1);
            char byte;
            (void)!read(release[0], &byte, 1);  // until the parent closes its end
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        releaseFd_ = release[1];
        char held = 0;
        holding_ = read(ready[0], &held, 1) == 1 && held == 1;
        close(ready[0]);
    }
    ~Holder() {
        if (releaseFd_ >= 0) close(releaseFd_);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }
    bool holding() const { return holding_; }
    // "platform_core_t (process 1234)": the name the kernel keeps for it.
    std::string named() const {
        std::ifstream comm("/proc/" + std::to_string(pid_) + "/comm");
        std::string name;
        std::getline(comm, name);
        return name + " (process " + std::to_string(pid_) + ")";
    }

private:
    pid_t pid_ = -1;
    int releaseFd_ = -1;
    bool holding_ = false;
};

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
        Holder holder(c.lockFile(dir));
        ASSERT_TRUE(holder.holding());
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
