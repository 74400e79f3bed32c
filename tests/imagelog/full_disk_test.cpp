// The image log on a disk that fills up and frees again: a line that cannot
// be written whole is taken back out and waits, whole, with the lines after
// it; they all go to the file in order once there is room, and the log says
// when it caught up.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>

#include "imagelog/image_log.h"
#include "imagelog/log_format.h"
#include "platform_fixture.h"
#include "port/parallel_port.h"

namespace noctil::test {
namespace {

// Holds the process's file size limit while it lives: writes past it fail
// as on a full disk (EFBIG, with the signal ignored).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

using FullDiskLog = PlatformTest;

std::vector<std::string> linesOf(const std::filesystem::path &file) {
    std::ifstream in(file, std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start) + "(cut)");
    return lines;
}

// The image numbers of the file's lines after its header; -1 for a line
// that does not read as one.
std::vector<int> imagesIn(const std::filesystem::path &file) {
    std::vector<int> images;
    const std::vector<std::string> lines = linesOf(file);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto parsed = plat::imagelog::parseLine(lines[i]);
        images.push_back(parsed ? int(parsed->image) : -1);
    }
    return images;
}

TEST_F(FullDiskLog, LinesWaitWholeAndCatchUpInOrderWhenThereIsRoom) {
    const std::filesystem::path avi = root() / "night.avi";
    const std::filesystem::path logFile = plat::imagelog::logPathFor(avi);
    auto &port = session().component<plat::ParallelPort>();
    auto log = plat::imagelog::ImageLog::startBeside(avi);
    ASSERT_TRUE(log);
    // What a display is told of the backlog: now, and at each change.
    using Told = std::pair<std::uint32_t, std::optional<plat::Micros>>;
    std::vector<Told> told;
    const plat::Subscription following = log->onBacklogChange(
        [&](const plat::imagelog::ImageLog &l) { told.emplace_back(l.linesWaiting(), l.caughtUpAt()); });
    log->imageAppended(1);
    EXPECT_EQ(imagesIn(logFile), std::vector<int>{1});
    {
        // Room for a few bytes more: image 2's line is cut short by the disk.
        FileSizeLimit full(std::filesystem::file_size(logFile) + 10);
        log->imageAppended(2);
        log->imageAppended(3);
        port.write(plat::ParallelPort::kDataRegister, 0x0B);  // a chance to catch up, with no room yet
        EXPECT_EQ(log->linesWaiting(), 2u);
        EXPECT_FALSE(log->caughtUpAt());
        EXPECT_EQ(imagesIn(logFile), std::vector<int>{1}) << "no line cut short in the file";
        EXPECT_EQ(linesOf(logFile).size(), 2u);
    }
    // Room again: the next port write brings the waiting lines in, in order.
    const plat::Micros roomAt = session().clock().now();
    port.write(plat::ParallelPort::kDataRegister, 0x00);
    EXPECT_EQ(log->linesWaiting(), 0u);
    ASSERT_TRUE(log->caughtUpAt());
    EXPECT_EQ(*log->caughtUpAt(), roomAt);
    log->imageAppended(4);
    EXPECT_EQ(imagesIn(logFile), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_TRUE(log->caughtUpAt()) << "it stays said that the log caught up";
    EXPECT_EQ(told, (std::vector<Told>{{0, std::nullopt}, {1, std::nullopt}, {2, std::nullopt}, {0, roomAt}}));
}

// Two followers of the backlog (the status line and another display) both
// hear each change; the second does not take the first one's place.
TEST_F(FullDiskLog, EveryFollowerOfTheBacklogHearsEachChange) {
    const std::filesystem::path avi = root() / "two.avi";
    auto &port = session().component<plat::ParallelPort>();
    auto log = plat::imagelog::ImageLog::startBeside(avi);
    ASSERT_TRUE(log);
    std::vector<std::uint32_t> first, second;
    const plat::Subscription one =
        log->onBacklogChange([&](const plat::imagelog::ImageLog &l) { first.push_back(l.linesWaiting()); });
    plat::Subscription two =
        log->onBacklogChange([&](const plat::imagelog::ImageLog &l) { second.push_back(l.linesWaiting()); });
    {
        FileSizeLimit full(std::filesystem::file_size(plat::imagelog::logPathFor(avi)));
        log->imageAppended(1);
    }
    two.reset();
    port.write(plat::ParallelPort::kDataRegister, 0x00);  // room again: the line goes out
    EXPECT_EQ(first, (std::vector<std::uint32_t>{0, 1, 0}));
    EXPECT_EQ(second, (std::vector<std::uint32_t>{0, 1})) << "a follower let go hears no more";
}

// The run ends while lines wait: the log's end tries once more.
TEST_F(FullDiskLog, WaitingLinesAreWrittenAtTheLogsEndWhenThereIsRoom) {
    const std::filesystem::path avi = root() / "end.avi";
    const std::filesystem::path logFile = plat::imagelog::logPathFor(avi);
    auto log = plat::imagelog::ImageLog::startBeside(avi);
    ASSERT_TRUE(log);
    log->imageAppended(1);
    {
        FileSizeLimit full(std::filesystem::file_size(logFile));
        log->imageAppended(2);
        EXPECT_EQ(log->linesWaiting(), 1u);
    }
    log.reset();
    EXPECT_EQ(imagesIn(logFile), (std::vector<int>{1, 2}));
}

}  // namespace
}  // namespace noctil::test
