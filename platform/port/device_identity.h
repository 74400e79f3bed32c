// What identifies a serial adapter beyond its node's name, which the kernel
// hands out anew: an adapter plugged in again while its old node is still
// held comes back as /dev/ttyUSB1, not /dev/ttyUSB0. udev names each adapter
// under /dev/serial/by-id by its maker, model and USB serial number, a name
// that stays; the port finds its adapter again by that name.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace plat {

// Where the device nodes are: the system's /dev, or a test's tree.
struct DeviceTree {
    std::filesystem::path dev = "/dev";
};

// The name under <dev>/serial/by-id that leads to `node` (a node or a link
// to one) now, such as "usb-FTDI_FT232R_USB_UART_A601ABCD-if00-port0";
// empty when none does.
std::string serialIdentityOf(const DeviceTree &tree, const std::filesystem::path &node);

// The node that the by-id name `identity` leads to now; none when no
// adapter of that identity is plugged in.
std::optional<std::filesystem::path> nodeOfSerialIdentity(const DeviceTree &tree, const std::string &identity);

}  // namespace plat
