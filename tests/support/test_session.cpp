#include "test_session.h"

#include <stdlib.h>

#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "module_resources.h"
#include "observers/program_session.h"

namespace noctil::test {

std::filesystem::path makeTempDirectory(const char *prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary platform root");
    return pattern;
}

TestSession::TestSession(const char *rootPrefix, SessionClock clock, std::shared_ptr<plat::Display> display)
    : TestSession(makeTempDirectory(rootPrefix), true, clock, std::move(display)) {}

TestSession::TestSession(std::filesystem::path root, SessionClock clock, std::shared_ptr<plat::Display> display)
    : TestSession(std::move(root), false, clock, std::move(display)) {}

TestSession::TestSession(std::filesystem::path root, bool ownsRoot, SessionClock clock,
                         std::shared_ptr<plat::Display> display)
    : root_(std::move(root)), ownsRoot_(ownsRoot) {
    try {
        // With the port the root's configuration names, as the process start makes it.
        session_ = plat::makeProgramSession(
            {plat::SessionOptions{root_, clock == SessionClock::Virtual, std::move(display)}, programResourceFile(), nullptr, {}});
    } catch (...) {
        std::error_code ignored;
        if (ownsRoot_) std::filesystem::remove_all(root_, ignored);
        throw;
    }
}

TestSession::~TestSession() {
    session_.reset();
    std::error_code ignored;  // a root left behind in the temporary directory is harmless
    if (ownsRoot_) std::filesystem::remove_all(root_, ignored);
}

}  // namespace noctil::test
