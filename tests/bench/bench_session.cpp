#include "bench_session.h"

#include <stdlib.h>

#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "display/null_display.h"
#include "observers/observers.h"
#include "port/parallel_port.h"
#include "profile/ini_file.h"

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
    plat::observers::install();
    if (!display) display = std::make_shared<plat::NullDisplay>();
    session_ = std::make_unique<plat::Session>(plat::SessionOptions{root_, virtualClock, std::move(display)});
    // The port the root's configuration names, as the process start makes it.
    const std::filesystem::path systemIni = plat::systemIni(root_);
    std::vector<plat::PortFailure> failures;
    auto backend = plat::makeConfiguredPortBackend({systemIni.string(), plat::readIniSection(systemIni, "parallel")},
                                                   [&failures](const plat::PortFailure &f) { failures.push_back(f); });
    plat::makeSessionPort(*session_, std::move(backend), std::move(failures));
}

BenchSession::~BenchSession() {
    session_.reset();
    std::error_code ignored;  // a root left in the temporary directory is harmless
    if (ownsRoot_) std::filesystem::remove_all(root_, ignored);
}

}  // namespace bench
