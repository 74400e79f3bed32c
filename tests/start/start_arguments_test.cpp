// The start answers --help and --version without starting the program and
// refuses any other argument; without arguments the program starts (here it
// gets as far as finding no display). No display is ever given, so an
// argument that started the program would end in the display message.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "noctil_version.h"
#include "platform_fixture.h"

namespace noctil::test {
namespace {

struct ProcessRun {
    int status = -1;  // the exit status, or 128 + the signal
    std::string out, err;
};

std::string readFile(const std::filesystem::path &file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs `program` with `args` and an environment of its own: HOME and
// NOCTIL_ROOT under `dir`, PATH, and no display of any kind.
ProcessRun run(const char *program, const std::vector<std::string> &args, const std::filesystem::path &dir) {
    std::vector<std::string> env = {"HOME=" + dir.string(), "NOCTIL_ROOT=" + (dir / "root").string()};
    if (const char *path = std::getenv("PATH")) env.push_back(std::string("PATH=") + path);
    std::vector<char *> envp, argv;
    for (std::string &e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string name = program;
    argv.push_back(name.data());
    std::vector<std::string> argsCopy = args;
    for (std::string &a : argsCopy) argv.push_back(a.data());
    argv.push_back(nullptr);

    const std::string outFile = (dir / "stdout").string(), errFile = (dir / "stderr").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ProcessRun r;
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return r;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = readFile(outFile);
    r.err = readFile(errFile);
    return r;
}

class StartArgumentsTest : public ::testing::Test {
protected:
    StartArgumentsTest() : dir_(makeTempDirectory("noctil-args")) {}
    ~StartArgumentsTest() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::filesystem::path dir_;
};

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

TEST_F(StartArgumentsTest, HelpAndVersionAreAnsweredAndAnythingElseIsRefusedWithoutStarting) {
    const std::string root = (dir_ / "root").string();
    const struct {
        const char *name;
        std::vector<std::string> args;
        int status;
        std::vector<std::string> out;  // parts of standard output ("" alone: it is empty)
        std::string err;               // a part of standard error ("": it is empty)
    } cases[] = {
        {"Help",
         {"--help"},
         0,
         {"usage: noctil [--help | --version]", "NOCTIL_ROOT", "QT_QPA_PLATFORM", "DISPLAY", "xvfb-run noctil",
          root + "/windows/Noctil.ini", root + "/windows/system.ini", root + "/drives/c/"},
         ""},
        {"ShortHelp", {"-h"}, 0, {"usage: noctil"}, ""},
        {"UnknownOption", {"--fullscreen"}, 2, {""}, "noctil: unknown option '--fullscreen'"},
        {"UnknownArgument", {"M42.AVI"}, 2, {""}, "noctil: unknown argument 'M42.AVI'"},
        {"UnknownAfterHelp", {"--help", "-x"}, 2, {""}, "noctil: unknown option '-x'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const ProcessRun r = run(NOCTIL_EXECUTABLE, c.args, dir_);
        EXPECT_EQ(r.status, c.status) << r.err;
        for (const std::string &part : c.out) {
            if (part.empty())
                EXPECT_EQ(r.out, "");
            else
                EXPECT_TRUE(contains(r.out, part)) << "missing \"" << part << "\" in:\n" << r.out;
        }
        if (c.err.empty())
            EXPECT_EQ(r.err, "");
        else
            EXPECT_TRUE(contains(r.err, c.err)) << r.err;
    }
    // --version prints the project's version alone.
    const ProcessRun version = run(NOCTIL_EXECUTABLE, {"--version"}, dir_);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "noctil " NOCTIL_VERSION "\n");
    EXPECT_EQ(version.err, "");
}

TEST_F(StartArgumentsTest, WithoutArgumentsTheProgramStarts) {
    const ProcessRun r = run(NOCTIL_EXECUTABLE, {}, dir_);
    // No display is given, so the start stops there, naming the installed
    // program's ways to start.
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.out, "");
#if NOCTIL_TEST_WITH_QT
    EXPECT_TRUE(contains(r.err, "there is no display to show the windows on")) << r.err;
    EXPECT_TRUE(contains(r.err, "xvfb-run noctil")) << r.err;
    EXPECT_TRUE(contains(r.err, "QT_QPA_PLATFORM=vnc noctil")) << r.err;
    EXPECT_FALSE(contains(r.err, "scripts/")) << r.err;
#else
    EXPECT_TRUE(contains(r.err, "this build has no display for windows")) << r.err;
#endif
    EXPECT_FALSE(contains(r.err, "unknown")) << r.err;
}

TEST_F(StartArgumentsTest, ConverterPrintsTheSameVersion) {
    const ProcessRun r = run(NOCTIL_CONVERT_EXECUTABLE, {"--version"}, dir_);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "noctil-convert " NOCTIL_VERSION "\n");
    EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace noctil::test
