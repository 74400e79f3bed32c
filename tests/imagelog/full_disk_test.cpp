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
#include "core/utc.h"
#include "imagelog/log_format.h"
#include "observers/image_log_follower.h"
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

// The line of an image with nothing else to tell: the log's own behaviour alone.
void appendImage(plat::imagelog::ImageLog &log, std::uint32_t image) {
    plat::imagelog::LogLine line;
    line.image = image;
    log.imageAppended(line);
}

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
    auto log = plat::imagelog::ImageLog::startBeside(avi, session().clock());
    ASSERT_TRUE(log);
    // What a display is told of the backlog: now, and at each change.
    using Told = std::pair<std::uint32_t, std::optional<plat::Micros>>;
    std::vector<Told> told;
    const plat::Subscription following = log->onBacklogChange(
        [&](const plat::imagelog::ImageLog &l) { told.emplace_back(l.linesWaiting(), l.caughtUpAt()); });
    appendImage(*log, 1);
    EXPECT_EQ(imagesIn(logFile), std::vector<int>{1});
    {
        // Room for a few bytes more: image 2's line is cut short by the disk.
        FileSizeLimit full(std::filesystem::file_size(logFile) + 10);
        appendImage(*log, 2);
        appendImage(*log, 3);
        log->catchUp();  // a chance to catch up (a port write), with no room yet
        EXPECT_EQ(log->linesWaiting(), 2u);
        EXPECT_FALSE(log->caughtUpAt());
        EXPECT_EQ(imagesIn(logFile), std::vector<int>{1}) << "no line cut short in the file";
        EXPECT_EQ(linesOf(logFile).size(), 2u);
    }
    // Room again: the next chance (a port write) brings the waiting lines in, in order.
    session().clock().sleepUntil(session().clock().now() + 5'000);
    const plat::Micros roomAt = session().clock().now();
    log->catchUp();
    EXPECT_EQ(log->linesWaiting(), 0u);
    ASSERT_TRUE(log->caughtUpAt());
    EXPECT_EQ(*log->caughtUpAt(), roomAt);
    appendImage(*log, 4);
    EXPECT_EQ(imagesIn(logFile), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_TRUE(log->caughtUpAt()) << "it stays said that the log caught up";
    EXPECT_EQ(told, (std::vector<Told>{{0, std::nullopt}, {1, std::nullopt}, {2, std::nullopt}, {0, roomAt}}));
}

// Two followers of the backlog (the status line and another display) both
// hear each change; the second does not take the first one's place.
TEST_F(FullDiskLog, EveryFollowerOfTheBacklogHearsEachChange) {
    const std::filesystem::path avi = root() / "two.avi";
    auto log = plat::imagelog::ImageLog::startBeside(avi, session().clock());
    ASSERT_TRUE(log);
    std::vector<std::uint32_t> first, second;
    const plat::Subscription one =
        log->onBacklogChange([&](const plat::imagelog::ImageLog &l) { first.push_back(l.linesWaiting()); });
    plat::Subscription two =
        log->onBacklogChange([&](const plat::imagelog::ImageLog &l) { second.push_back(l.linesWaiting()); });
    {
        FileSizeLimit full(std::filesystem::file_size(plat::imagelog::logPathFor(avi)));
        appendImage(*log, 1);
    }
    two.reset();
    log->catchUp();  // room again: the line goes out
    EXPECT_EQ(first, (std::vector<std::uint32_t>{0, 1, 0}));
    EXPECT_EQ(second, (std::vector<std::uint32_t>{0, 1})) << "a follower let go hears no more";
}

// The log as the observer layer keeps it beside a file the AVI library
// writes: each line tells the exposure the port's writes show, and a port
// write gives the lines that wait for room their chance.
TEST_F(FullDiskLog, TheFollowedLogTellsThePortsExposureAndCatchesUpAtAPortWrite) {
    auto &follower = session().component<plat::observers::ImageLogFollower>();
    auto &port = session().component<plat::ParallelPort>();
    plat::Clock &clock = session().clock();
    const std::filesystem::path avi = root() / "followed.avi";
    const std::filesystem::path logFile = plat::imagelog::logPathFor(avi);
    const int file = 0;  // its address names the file
    follower(plat::avi::FileOpened{&file, avi});
    const plat::Micros start = clock.now();
    port.write(plat::ParallelPort::kDataRegister, 0x0B);
    clock.sleepUntil(start + 2'000'000);
    port.write(plat::ParallelPort::kDataRegister, 0x08);
    follower(plat::avi::FrameAppended{&file, 1});
    const std::vector<std::string> lines = linesOf(logFile);
    ASSERT_EQ(lines.size(), 2u);
    const std::optional<plat::imagelog::LogLine> line = plat::imagelog::parseLine(lines[1]);
    ASSERT_TRUE(line);
    const plat::UtcMicros origin = plat::kVirtualClockUtcOrigin;
    EXPECT_EQ(line->exposeStart, std::optional<plat::UtcMicros>(origin + start));
    EXPECT_EQ(line->exposeEnd, std::optional<plat::UtcMicros>(origin + start + 2'000'000));
    {
        FileSizeLimit full(std::filesystem::file_size(logFile));
        follower(plat::avi::FrameAppended{&file, 2});
        port.write(plat::ParallelPort::kDataRegister, 0x00);  // no room yet
        EXPECT_EQ(imagesIn(logFile), std::vector<int>{1});
    }
    port.write(plat::ParallelPort::kDataRegister, 0x00);
    EXPECT_EQ(imagesIn(logFile), (std::vector<int>{1, 2}));
    follower(plat::avi::FileClosed{&file});
}

// The run ends while lines wait: the log's end tries once more.
TEST_F(FullDiskLog, WaitingLinesAreWrittenAtTheLogsEndWhenThereIsRoom) {
    const std::filesystem::path avi = root() / "end.avi";
    const std::filesystem::path logFile = plat::imagelog::logPathFor(avi);
    auto log = plat::imagelog::ImageLog::startBeside(avi, session().clock());
    ASSERT_TRUE(log);
    appendImage(*log, 1);
    {
        FileSizeLimit full(std::filesystem::file_size(logFile));
        appendImage(*log, 2);
        EXPECT_EQ(log->linesWaiting(), 1u);
    }
    log.reset();
    EXPECT_EQ(imagesIn(logFile), (std::vector<int>{1, 2}));
}

}  // namespace
}  // namespace noctil::test
