// New files in place of old ones: a file is replaced, never rewritten in
// place, a link is followed and a folder refuses.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "file_text.h"
#include "files/replace_file.h"

namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path &file) { return noctil::test::readAll(file); }

class ReplaceFile : public ::testing::Test {
protected:
    ReplaceFile() : dir_(fs::temp_directory_path() / ("noctil-replace-" + std::to_string(::getpid()))) {
        fs::create_directories(dir_);
    }
    ~ReplaceFile() override { fs::remove_all(dir_); }

    // Creates `file` with createReplacingFile and writes `text` into it;
    // 0, or the errno of the failed create.
    int create(const fs::path &file, const std::string &text) {
        const int fd = plat::createReplacingFile(file.c_str());
        if (fd < 0) return errno;
        const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
        ::close(fd);
        return written ? 0 : -1;
    }

    fs::path dir_;
};

TEST_F(ReplaceFile, ANewNameGetsANewFile) {
    ASSERT_EQ(create(dir_ / "new.avi", "new"), 0);
    EXPECT_EQ(contents(dir_ / "new.avi"), "new");
}

// Another name of the old file keeps the old bytes: the file was replaced,
// not truncated and rewritten.
TEST_F(ReplaceFile, AnOldFileIsReplacedNotRewritten) {
    std::ofstream(dir_ / "old.avi") << "old bytes";
    fs::create_hard_link(dir_ / "old.avi", dir_ / "other name");
    ASSERT_EQ(create(dir_ / "old.avi", "new"), 0);
    EXPECT_EQ(contents(dir_ / "old.avi"), "new");
    EXPECT_EQ(contents(dir_ / "other name"), "old bytes");
}

TEST_F(ReplaceFile, ALinkIsFollowed) {
    std::ofstream(dir_ / "target.avi") << "old bytes";
    fs::create_symlink(dir_ / "target.avi", dir_ / "link.avi");
    ASSERT_EQ(create(dir_ / "link.avi", "new"), 0);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.avi"));
    EXPECT_EQ(contents(dir_ / "target.avi"), "new");
}

TEST_F(ReplaceFile, AFolderRefusesAndKeepsWhatItHolds) {
    fs::create_directories(dir_ / "folder.avi");
    std::ofstream(dir_ / "folder.avi" / "keep") << "x";
    EXPECT_EQ(create(dir_ / "folder.avi", "new"), EISDIR);
    EXPECT_EQ(contents(dir_ / "folder.avi" / "keep"), "x");
}

}  // namespace
