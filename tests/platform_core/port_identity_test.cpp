// A serial adapter comes back under its new name: plugged in again while its
// old node is still held, the kernel names it /dev/ttyUSB1. The port knows
// it again by its name under /dev/serial/by-id, recorded at the first open
// of a port configured by node, and followed anew at every open of a port
// configured by that name. The device tree is a temporary folder standing
// in for /dev, its nodes answered by a fake device.
#include <sys/ioctl.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fake_port_device.h"
#include "platform_fixture.h"
#include "port/device_identity.h"
#include "port/port_backend.h"

namespace {

namespace fs = std::filesystem;
using Kind = noctil::test::FakePortDevice::Kind;

constexpr const char *kOurs = "usb-FTDI_FT232R_USB_UART_A601ABCD-if00-port0";
constexpr const char *kOther = "usb-Prolific_USB-Serial_Controller_0123-if00-port0";

struct Case {
    const char *name;
    const char *configured;    // the device setting, under the tree's dev folder
    const char *linkAtStart;   // the by-id name of the adapter at ttyUSB0 ("": none)
    const char *backAt;        // the node the adapter comes back at
    const char *linkWhenBack;  // the by-id name that leads there then ("": none)
    bool usedAgain;
};

const Case kCases[] = {
    {"ByNodeBackUnderANewNode", "ttyUSB0", kOurs, "ttyUSB1", kOurs, true},
    {"ByIdBackUnderANewNode", "serial/by-id/usb-FTDI_FT232R_USB_UART_A601ABCD-if00-port0", kOurs, "ttyUSB1", kOurs,
     true},
    {"ByNodeBackUnderItsOwnNode", "ttyUSB0", kOurs, "ttyUSB0", kOurs, true},
    {"ByNodeAnotherAdapterAtTheNewNode", "ttyUSB0", kOurs, "ttyUSB1", kOther, false},
    // Without udev's names nothing tells the adapter at the new node.
    {"ByNodeWithoutIdNames", "ttyUSB0", "", "ttyUSB1", "", false},
};

class PortIdentityTest : public noctil::test::PlatformTest, public ::testing::WithParamInterface<Case> {
protected:
    PortIdentityTest() {
        root_ = fs::temp_directory_path() / ("noctil-dev-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "dev/serial/by-id");
        root_ = fs::canonical(root_);
        tree_.dev = root_ / "dev";
    }
    ~PortIdentityTest() override { fs::remove_all(root_); }

    // A node of the tree, and a by-id name leading to it (replacing any other).
    void node(const std::string &name) { std::ofstream(tree_.dev / name).put('\n'); }
    void link(const std::string &id, const std::string &node) {
        fs::remove(tree_.dev / "serial/by-id" / id);
        if (!id.empty()) fs::create_symlink("../../" + node, tree_.dev / "serial/by-id" / id);
    }
    void unlinkAll() {
        for (const auto &entry : fs::directory_iterator(tree_.dev / "serial/by-id")) fs::remove(entry.path());
    }

    fs::path root_;
    plat::DeviceTree tree_;
};

TEST_P(PortIdentityTest, AnAdapterIsKnownAgainByItsIdName) {
    const Case &c = GetParam();
    constexpr std::uint16_t kData = 0x378;
    node("ttyUSB0");
    if (c.linkAtStart[0]) link(c.linkAtStart, "ttyUSB0");
    noctil::test::FakePortDevice device((tree_.dev / "ttyUSB0").string(), Kind::Serial, 188);
    std::vector<plat::PortFailure> reports;
    auto backend = plat::makeSerialPortBackend(
        tree_.dev / c.configured, {}, [&](const plat::PortFailure &f) { reports.push_back(f); }, tree_);
    ::testing::internal::CaptureStderr();
    backend->write(kData, 0x00);
    backend->write(kData, 0x0B);
    ASSERT_EQ(device.levels, (std::vector<int>{0, TIOCM_DTR}));

    // Pulled out: its node goes, and it comes back at another while the
    // port still holds the old one.
    device.unplug();
    fs::remove(tree_.dev / "ttyUSB0");
    unlinkAll();
    node(c.backAt);
    link(c.linkWhenBack, c.backAt);
    device.plugInAt((tree_.dev / c.backAt).string(), Kind::Serial, 188);
    backend->write(kData, 0x08);  // the old handle fails: told once, let go
    ASSERT_EQ(reports.size(), 1u);
    backend->write(kData, 0x0B);
    const std::string err = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(reports.size(), 1u) << "nothing more whether or not it is found";
    EXPECT_EQ(!backend->failed(), c.usedAgain);
    if (c.usedAgain) {
        EXPECT_EQ(device.levels, (std::vector<int>{0, TIOCM_DTR, 0, TIOCM_DTR})) << "the rest level first";
        // The node is named only when it is not the one configured.
        const std::string told = std::string(c.configured) == c.backAt
                                     ? " is back; the lines go to rest first"
                                     : " is back at " + (tree_.dev / c.backAt).string() + "; the lines go to rest first";
        EXPECT_NE(err.find(told), std::string::npos) << err;
    } else {
        EXPECT_EQ(device.levels, (std::vector<int>{0, TIOCM_DTR})) << "nothing reaches another adapter";
    }
    EXPECT_EQ(device.opens, device.closes + (c.usedAgain ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(Adapters, PortIdentityTest, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

// The identity functions on their own.
TEST(DeviceIdentity, ANodeIsNamedByTheIdLinkThatLeadsToIt) {
    const fs::path root = fs::temp_directory_path() / ("noctil-devid-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "dev/serial/by-id");
    const plat::DeviceTree tree{fs::canonical(root / "dev")};
    std::ofstream(tree.dev / "ttyUSB3").put('\n');
    std::ofstream(tree.dev / "ttyS0").put('\n');
    fs::create_symlink("../../ttyUSB3", tree.dev / "serial/by-id" / kOurs);
    EXPECT_EQ(plat::serialIdentityOf(tree, tree.dev / "ttyUSB3"), kOurs);
    EXPECT_EQ(plat::serialIdentityOf(tree, tree.dev / "serial/by-id" / kOurs), kOurs);
    EXPECT_EQ(plat::serialIdentityOf(tree, tree.dev / "ttyS0"), "");
    EXPECT_EQ(plat::serialIdentityOf(tree, tree.dev / "ttyUSB9"), "");
    EXPECT_EQ(plat::nodeOfSerialIdentity(tree, kOurs), tree.dev / "ttyUSB3");
    EXPECT_EQ(plat::nodeOfSerialIdentity(tree, kOther), std::nullopt);
    EXPECT_EQ(plat::nodeOfSerialIdentity(tree, "../../ttyS0"), std::nullopt) << "a name, never a path";
    fs::remove_all(root);
}

}  // namespace
