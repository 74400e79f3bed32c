// The program started as a process: where it cannot show its windows it
// says why and exits with status 2; on the VNC platform its server listens
// on this machine only, unless the user names another address.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform_fixture.h"

namespace noctil::test {
namespace {

// The program as a child process with only the environment given, its
// standard error readable through a pipe.
class Child {
public:
    Child(const std::filesystem::path &root, std::vector<std::string> env) {
        env.push_back("HOME=" + root.string());
        env.push_back("NOCTIL_ROOT=" + (root / "noctil").string());
        env.push_back("XDG_RUNTIME_DIR=" + root.string());
        if (const char *path = std::getenv("PATH")) env.push_back(std::string("PATH=") + path);
        std::vector<char *> envp;
        for (std::string &e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        char program[] = NOCTIL_EXECUTABLE;
        char *argv[] = {program, nullptr};
        if (posix_spawn(&pid_, program, &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        err_ = fds[0];
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (err_ >= 0) close(err_);
    }

    bool started() const { return pid_ > 0; }
    const std::string &errors() const { return errors_; }

    // Reads standard error until `text` has come; false at its end without it,
    // or when nothing came for a minute (a watchdog, not a measure of speed).
    bool readUntil(const std::string &text) {
        while (errors_.find(text) == std::string::npos) {
            pollfd p{err_, POLLIN, 0};
            if (poll(&p, 1, 60'000) != 1) return false;
            char buffer[512];
            const ssize_t n = read(err_, buffer, sizeof buffer);
            if (n <= 0) return false;
            errors_.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

    // Reads standard error to its end and waits for the exit status.
    int exitStatus() {
        readUntil(std::string(1, '\0'));
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    int err_ = -1;
    std::string errors_;
};

class StartTest : public ::testing::Test {
protected:
    StartTest() : root_(makeTempDirectory("noctil-start")) {}
    ~StartTest() override {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    std::filesystem::path root_;
};

// An X display number nobody serves: no socket in /tmp/.X11-unix, none in
// the abstract namespace either.
std::string unservedDisplay() {
    std::ifstream unixSockets("/proc/net/unix");
    const std::string sockets((std::istreambuf_iterator<char>(unixSockets)), std::istreambuf_iterator<char>());
    for (int n = 97;; ++n) {
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
        if (!std::filesystem::exists(path) && sockets.find(path + "\n") == std::string::npos) {
            std::string display(1, ':');
            display += std::to_string(n);
            return display;
        }
    }
}

TEST_F(StartTest, WithoutADisplayToUseItSaysWhyAndExitsWithStatus2) {
    const struct {
        const char *name;
        std::vector<std::string> env;
        const char *says;
    } cases[] = {
        {"NoDisplayNamed", {}, "there is no display to show the windows on"},
        {"DisplayRefuses", {"DISPLAY=" + unservedDisplay()}, "refused the connection"},
    };
    for (const auto &c : cases) {
        Child child(root_, c.env);
        ASSERT_TRUE(child.started()) << c.name;
        EXPECT_EQ(child.exitStatus(), 2) << c.name << ": " << child.errors();
        EXPECT_NE(child.errors().find(c.says), std::string::npos) << c.name << ": " << child.errors();
        EXPECT_NE(child.errors().find("QT_QPA_PLATFORM=vnc"), std::string::npos) << c.name;
    }
}

// A port free on every address now.
int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

// The local addresses (as /proc/net/tcp writes them) of the sockets
// listening on `port`, IPv4 and IPv6.
std::vector<std::string> listeningOn(int port) {
    char portHex[8];
    std::snprintf(portHex, sizeof portHex, ":%04X", port);
    std::vector<std::string> out;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (state == "0A" && local.size() > 5 && local.ends_with(portHex))
                out.push_back(local.substr(0, local.size() - 5));
        }
    }
    return out;
}

TEST_F(StartTest, VncServerListensOnLoopbackUnlessAnotherAddressIsNamed) {
    const struct {
        const char *name;
        const char *arguments;
        std::vector<std::string> listening;
        const char *says;
    } cases[] = {
        {"Default", "", {"0100007F"}, "(this machine only)"},
        {"AllInterfacesNamed", ":addr=0.0.0.0", {"00000000"}, "reachable from the network"},
    };
    for (const auto &c : cases) {
        const int port = freePort();
        Child child(root_, {"QT_QPA_PLATFORM=vnc:port=" + std::to_string(port) + c.arguments});
        ASSERT_TRUE(child.started()) << c.name;
        ASSERT_TRUE(child.readUntil("VNC server listening")) << c.name << ": " << child.errors();
        ASSERT_TRUE(child.readUntil("\n")) << c.name;
        EXPECT_EQ(listeningOn(port), c.listening) << c.name;
        EXPECT_NE(child.errors().find(c.says), std::string::npos) << c.name << ": " << child.errors();
    }
}

TEST_F(StartTest, AnAddressThatIsNoAddressStopsTheStart) {
    Child child(root_, {"QT_QPA_PLATFORM=vnc:addr=everywhere"});
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.exitStatus(), 2);
    EXPECT_NE(child.errors().find("\"everywhere\" is not an IPv4 or IPv6 address"), std::string::npos)
        << child.errors();
}

}  // namespace
}  // namespace noctil::test
