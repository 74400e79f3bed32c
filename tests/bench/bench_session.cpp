#include "bench_session.h"

#include <stdlib.h>

#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "display/null_display.h"
#include "module_resources.h"
#include "observers/program_session.h"

namespace bench {

namespace {

std::filesystem::path newRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "noctil-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary platform root");
    return pattern;
}

}  // namespace

BenchSession::BenchSession(bool virtualClock, std::shared_ptr<plat::Display> display)
    : BenchSession(newRoot(), true, virtualClock, std::move(display)) {}

BenchSession::BenchSession(const std::filesystem::path &root) : BenchSession(root, false, true, nullptr) {}

BenchSession::BenchSession(std::filesystem::path root, bool ownsRoot, bool virtualClock,
                           std::shared_ptr<plat::Display> display)
    : root_(std::move(root)), ownsRoot_(ownsRoot) {
    if (!display) display = std::make_shared<plat::NullDisplay>();
    // With the port the root's configuration names, as the process start makes it.
    session_ = plat::makeProgramSession(
        {plat::SessionOptions{root_, virtualClock, std::move(display)}, programResourceFile(), nullptr, {}});
}

BenchSession::~BenchSession() {
    session_.reset();
    std::error_code ignored;  // a root left in the temporary directory is harmless
    if (ownsRoot_) std::filesystem::remove_all(root_, ignored);
}

}  // namespace bench
