#include "port/device_identity.h"

#include <system_error>

namespace plat {

namespace fs = std::filesystem;

namespace {

fs::path byIdFolder(const DeviceTree &tree) { return tree.dev / "serial" / "by-id"; }

// The node a path leads to, its links followed; empty when it leads nowhere.
fs::path nodeOf(const fs::path &path) {
    std::error_code error;
    fs::path node = fs::canonical(path, error);
    return error ? fs::path() : node;
}

}  // namespace

std::string serialIdentityOf(const DeviceTree &tree, const fs::path &node) {
    const fs::path target = nodeOf(node);
    if (target.empty()) return {};
    std::error_code error;
    for (const fs::directory_entry &entry : fs::directory_iterator(byIdFolder(tree), error))
        if (nodeOf(entry.path()) == target) return entry.path().filename().string();
    return {};
}

std::optional<fs::path> nodeOfSerialIdentity(const DeviceTree &tree, const std::string &identity) {
    if (identity.empty() || identity.find('/') != std::string::npos) return std::nullopt;
    fs::path node = nodeOf(byIdFolder(tree) / identity);
    if (node.empty()) return std::nullopt;
    return node;
}

}  // namespace plat
