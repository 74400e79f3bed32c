// The benchmark's platform session, made the way the process start makes the
// program's: the observers installed, the display without windows of the
// product (or the caller's) and no test double behind the write seam, so the
// figures are the product's own write path. On a temporary root of its own,
// removed with it, or on the caller's root.
#pragma once

#include <filesystem>
#include <memory>

#include "core/session.h"
#include "display/display.h"

namespace bench {

class BenchSession {
public:
    explicit BenchSession(bool virtualClock, std::shared_ptr<plat::Display> display = nullptr);
    // On `root`, which stays; virtual clock.
    explicit BenchSession(const std::filesystem::path &root);
    ~BenchSession();
    BenchSession(const BenchSession &) = delete;
    BenchSession &operator=(const BenchSession &) = delete;

private:
    BenchSession(std::filesystem::path root, bool ownsRoot, bool virtualClock, std::shared_ptr<plat::Display> display);

    std::filesystem::path root_;
    bool ownsRoot_;
    std::unique_ptr<plat::Session> session_;
};

}  // namespace bench
