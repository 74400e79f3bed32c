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
#include "display/status_line_feed.h"
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

// The log ends while lines wait: they are tried once more, and those the
// disk still has no room for go to the side file beside the log, or stay in
// the leftover until it has room.
TEST_F(FullDiskLog, TheLogsEndKeepsTheLinesThatFindNoRoom) {
    enum class Room { BackBeforeTheEnd, ForTheSideFileOnly, ForNothing };
    const struct {
        const char *what;
        Room room;
        std::vector<int> inLog, inSide;
        std::uint32_t leftWaiting, leftKept;
    } cases[] = {
        {"room came back", Room::BackBeforeTheEnd, {1, 2, 3}, {}, 0, 0},
        {"the side file takes them", Room::ForTheSideFileOnly, {1}, {2, 3}, 0, 2},
        {"no room anywhere", Room::ForNothing, {1}, {}, 2, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::filesystem::path avi = root() / "kept.avi";
        const std::filesystem::path logFile = plat::imagelog::logPathFor(avi);
        const std::filesystem::path side = plat::imagelog::waitingPathFor(logFile);
        auto log = plat::imagelog::ImageLog::startBeside(avi, session().clock());
        ASSERT_TRUE(log);
        EXPECT_FALSE(std::filesystem::exists(side)) << "an earlier log's side file is gone";
        appendImage(*log, 1);
        plat::imagelog::Leftover left;
        {
            FileSizeLimit full(std::filesystem::file_size(logFile));
            appendImage(*log, 2);
            appendImage(*log, 3);
            EXPECT_EQ(log->linesWaiting(), 2u);
            const rlim_t atTheEnd = c.room == Room::BackBeforeTheEnd     ? RLIM_INFINITY
                                    : c.room == Room::ForTheSideFileOnly ? std::filesystem::file_size(logFile)
                                                                         : 10;
            FileSizeLimit end(atTheEnd);
            left = log->finish();
        }
        EXPECT_EQ(imagesIn(logFile), c.inLog);
        EXPECT_EQ(left.waiting, c.leftWaiting);
        EXPECT_EQ(left.kept, c.leftKept);
        EXPECT_EQ(left.sideFile, side);
        std::vector<int> inSide;
        for (const std::string &l : linesOf(side)) inSide.push_back(int(plat::imagelog::parseLine(l)->image));
        EXPECT_EQ(inSide, c.inSide);
        // Room again: what was left goes to the side file, whole.
        EXPECT_TRUE(plat::imagelog::keepAside(left));
        EXPECT_EQ(left.waiting, 0u);
        EXPECT_EQ(left.kept, 2u - std::uint32_t(c.inLog.size() - 1));
        EXPECT_EQ(imagesIn(logFile).size() + linesOf(side).size(), 3u) << "every line once, in the log or beside it";
        log.reset();
    }
}

// The status line hears what the log's end did: the backlog is cleared once
// nothing waits, and lines kept aside are told.
TEST_F(FullDiskLog, TheStatusLineHearsWhatTheLogsEndLeft) {
    const struct {
        const char *what;
        rlim_t roomAtTheEnd;  // bytes a file may reach when the file closes
        std::uint32_t waiting, kept, waitingAfterRoom, keptAfterRoom;
        bool caughtUp;
    } cases[] = {
        {"room came back before the end", RLIM_INFINITY, 0, 0, 0, 0, true},
        {"the side file took them", 0, 0, 1, 0, 1, false},
        {"no room anywhere until a port write", 10, 1, 0, 0, 1, false},
    };
    auto &follower = session().component<plat::observers::ImageLogFollower>();
    auto &feed = session().component<plat::status::Feed>();
    auto &port = session().component<plat::ParallelPort>();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::filesystem::path avi = root() / "told.avi";
        const std::filesystem::path logFile = plat::imagelog::logPathFor(avi);
        const int file = 0;
        follower(plat::avi::FileOpened{&file, avi});
        feed.streamOpened(&file, "C:\\told.avi", avi, 100, 1);
        follower(plat::avi::FrameAppended{&file, 1});
        {
            FileSizeLimit full(std::filesystem::file_size(logFile));
            follower(plat::avi::FrameAppended{&file, 2});
            ASSERT_EQ(feed.newestFile()->logLinesWaiting, 1u);
            const rlim_t atTheEnd = c.roomAtTheEnd == 0 ? std::filesystem::file_size(logFile) : c.roomAtTheEnd;
            FileSizeLimit end(atTheEnd);
            feed.fileClosed(&file);
            follower(plat::avi::FileClosed{&file});
        }
        ASSERT_TRUE(feed.lastClosed());
        EXPECT_EQ(feed.lastClosed()->logLinesWaiting, c.waiting);
        EXPECT_EQ(feed.lastClosed()->logLinesKept, c.kept);
        EXPECT_EQ(feed.lastClosed()->logCaughtUp.has_value(), c.caughtUp);
        port.write(plat::ParallelPort::kDataRegister, 0x00);  // room again
        EXPECT_EQ(feed.lastClosed()->logLinesWaiting, c.waitingAfterRoom);
        EXPECT_EQ(feed.lastClosed()->logLinesKept, c.keptAfterRoom);
    }
}

}  // namespace
}  // namespace noctil::test
