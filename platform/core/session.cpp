#include "core/session.h"

#include <cstdlib>
#include <stdexcept>

#include "display/display.h"
#include "files/paths.h"

namespace plat {

namespace {
Session *current = nullptr;
}

Session::Session(SessionOptions options) : root_(std::move(options.root)) {
    if (current) throw std::logic_error("a platform session is already running");
    if (root_.empty()) root_ = defaultRoot();
    prepareRoot(root_);
    if (options.virtualClock)
        clock_ = std::make_unique<VirtualClock>();
    else
        clock_ = std::make_unique<RealClock>();
    display_ = options.display ? std::move(options.display) : makeHeadlessDisplay();
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
