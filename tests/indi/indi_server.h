// indiserver with the driver under test, on a loopback port of the test's
// own network namespace: started, its log kept, the driver's process found
// (to kill it) and the port's trace read back.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace noctil::test {

// One line of the driver's port trace (NOCTIL_PORT_TRACE).
struct TraceWrite {
    std::int64_t micros = 0;  // the driver's clock
    std::string utc;          // ISO 8601, six decimals
    unsigned level = 0;
};

// An exposure as the trace shows it: from an integration level to the next
// write of another level.
struct TraceExposure {
    std::int64_t start = 0, end = 0;
    std::string startUtc;
    std::vector<unsigned> levelsAfter;  // the levels written after it, up to the next exposure
};

std::vector<TraceWrite> readTrace(const std::filesystem::path &path);
std::vector<TraceExposure> traceExposures(const std::vector<TraceWrite> &writes);

class IndiServer {
public:
    static constexpr int kPort = 7624;

    // Starts indiserver on `port` with `drivers` and waits until it listens.
    // The drivers' configuration (HOME) and the port's trace live in `dir`.
    IndiServer(const std::vector<std::string> &drivers, const std::filesystem::path &dir, int port = kPort);
    ~IndiServer();

    bool listening() const { return listening_; }
    const std::filesystem::path &tracePath() const { return trace_; }
    // The driver's process (a child of indiserver), 0 when there is none.
    pid_t driverPid() const;
    std::string log() const;

private:
    void drain(int fd);

    pid_t pid_ = 0;
    std::filesystem::path trace_, logPath_;
    std::thread drainer_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool listening_ = false;
    bool ended_ = false;
};

}  // namespace noctil::test
