// The one way tests and benchmarks make a platform session: on a root of its
// own (a new directory under the system's temporary directory, removed when
// the session ends) or on a root the caller names, on the virtual clock or
// the real one, with the caller's display or the headless one.
#pragma once

#include <filesystem>
#include <memory>

#include "core/session.h"

namespace noctil::test {

// A new, empty directory under the system's temporary directory, named
// "<prefix>-XXXXXX".
std::filesystem::path makeTempDirectory(const char *prefix);

enum class SessionClock { Virtual, Real };

class TestSession {
public:
    // On a new temporary root named after `rootPrefix`, removed with the
    // session. A null display is the headless one (the tests' default-display
    // hook).
    explicit TestSession(const char *rootPrefix = "noctil-test", SessionClock clock = SessionClock::Virtual,
                         std::shared_ptr<plat::Display> display = nullptr);
    // On the caller's root, which stays.
    explicit TestSession(std::filesystem::path root, SessionClock clock = SessionClock::Virtual,
                         std::shared_ptr<plat::Display> display = nullptr);
    ~TestSession();
    TestSession(const TestSession &) = delete;
    TestSession &operator=(const TestSession &) = delete;

    plat::Session &session() { return *session_; }
    const std::filesystem::path &root() const { return root_; }
    // Ends the session before this object goes (what it left on the root is
    // then looked at); the root stays until then.
    void end() { session_.reset(); }

private:
    TestSession(std::filesystem::path root, bool ownsRoot, SessionClock clock, std::shared_ptr<plat::Display> display);

    std::filesystem::path root_;
    bool ownsRoot_;  // made here, so removed here
    std::unique_ptr<plat::Session> session_;
};

}  // namespace noctil::test
