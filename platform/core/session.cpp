#include "core/session.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "core/hooks.h"

namespace plat {

namespace {
Session *current = nullptr;

// The directories a fresh root needs: drive C and the Windows directory,
// where the file calls map names (files/paths.h). Failures are deliberately
// ignored here: an unwritable root shows up as the failing file call that
// needed it.
void prepareRoot(const std::filesystem::path &root) {
    std::error_code ec;
    std::filesystem::create_directories(root / "drives" / "c", ec);
    std::filesystem::create_directories(root / "windows", ec);
}
}  // namespace

Session::Session(SessionOptions options) : root_(std::move(options.root)) {
    if (current) throw std::logic_error("a platform session is already running");
    if (root_.empty()) root_ = defaultRoot();
    prepareRoot(root_);
    if (options.virtualClock)
        clock_ = std::make_unique<VirtualClock>();
    else
        clock_ = std::make_unique<RealClock>();
    display_ = options.display ? std::move(options.display) : makeDefaultDisplay();
    current = this;
}

Session::~Session() {
    // Newest component first: later components may refer to earlier ones.
    while (!components_.empty()) components_.pop_back();
    display_.reset();
    current = nullptr;
}

Session &session() {
    if (!current) throw std::logic_error("no platform session");
    return *current;
}

bool hasSession() { return current != nullptr; }

std::filesystem::path defaultRoot() {
    if (const char *env = std::getenv("NOCTIL_ROOT"); env && *env) return env;
    const char *home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / "Noctil";
}

}  // namespace plat
