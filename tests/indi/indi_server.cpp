#include "indi_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace noctil::test {

namespace {

bool integrating(unsigned level) { return (level & 0x0B) == 0x0B; }

}  // namespace

std::vector<TraceWrite> readTrace(const std::filesystem::path &path) {
    std::vector<TraceWrite> writes;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        TraceWrite w;
        fields >> w.micros >> w.utc >> std::hex >> w.level;
        if (fields) writes.push_back(w);
    }
    return writes;
}

std::vector<TraceExposure> traceExposures(const std::vector<TraceWrite> &writes) {
    std::vector<TraceExposure> exposures;
    bool open = false;
    for (const TraceWrite &w : writes) {
        if (integrating(w.level)) {
            if (!open) exposures.push_back({w.micros, 0, w.utc, {}});
            open = true;
        } else {
            if (open) exposures.back().end = w.micros;
            open = false;
            if (!exposures.empty()) exposures.back().levelsAfter.push_back(w.level);
        }
    }
    return exposures;
}

IndiServer::IndiServer(const std::vector<std::string> &drivers, const std::filesystem::path &dir, int port)
    : trace_(dir / "port.trace"), logPath_(dir / "indiserver.log") {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    const std::string home = dir.string(), trace = trace_.string();
    // -v says when it listens; -r lets it start a driver that died again.
    std::vector<std::string> words{"indiserver", "-v", "-r", "3", "-p", std::to_string(port)};
    words.insert(words.end(), drivers.begin(), drivers.end());
    std::vector<char *> argv;
    for (std::string &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDERR_FILENO);
        dup2(out[1], STDOUT_FILENO);
        setenv("HOME", home.c_str(), 1);
        setenv("NOCTIL_PORT_TRACE", trace.c_str(), 1);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    drainer_ = std::thread([this, fd = out[0]] { drain(fd); });
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(20), [this] { return listening_ || ended_; });
}

IndiServer::~IndiServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (drainer_.joinable()) drainer_.join();
}

void IndiServer::drain(int fd) {
    std::ofstream log(logPath_);
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        log.write(buffer, n);
        log.flush();
        pending.append(buffer, std::size_t(n));
        if (pending.find("listening to port") != std::string::npos) {
            std::lock_guard lock(mutex_);
            listening_ = true;
            changed_.notify_all();
            pending.clear();
        } else if (pending.size() > 65536) {
            pending.erase(0, pending.size() - 64);
        }
    }
    close(fd);
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

pid_t IndiServer::driverPid() const {
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string text;
        if (!std::getline(stat, text)) continue;
        // pid (comm) state ppid ...
        const auto close = text.rfind(')');
        const auto open = text.find('(');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(text.substr(close + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == pid_ && text.substr(open + 1, close - open - 1) == "indi_noctil_ccd")
            return pid_t(std::atoi(text.c_str()));
    }
    return 0;
}

std::string IndiServer::log() const {
    std::ifstream in(logPath_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace noctil::test
