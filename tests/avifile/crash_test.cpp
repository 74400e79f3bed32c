// A file stays readable whatever happens to the process writing it: killed
// between two appends or in the middle of one (also inside the later RIFFs
// and during the switch to one), or stopped by a full file system. Each
// writer runs in a child process; ffprobe and the reader then look at what
// it left.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <cstring>
#include <unistd.h>

#include "avi_test_support.h"
#include "avifile/avi_reader.h"
#include "avifile/avi_writer.h"
#include "write_doubles.h"

namespace {

using namespace avitest;

// 24-bit 28 x 12 frames: 1008 bytes. Small RIFFs and a small super index so
// that the frames span several 'AVIX' RIFFs.
constexpr int kWidth = 28, kHeight = 12;
constexpr std::size_t kFrameBytes = 84 * kHeight;
constexpr std::uint32_t kFrames = 24;

plat::avi::StreamFormat testFormat() {
    plat::avi::StreamFormat f;
    f.format = bitmapFormat(kWidth, kHeight, 24, 0);
    return f;
}

plat::avi::WriterOptions smallRiffs() {
    plat::avi::WriterOptions o;
    o.riffLimit = 8192;
    o.superIndexEntries = 16;
    return o;
}

struct ChildReport {
    bool created = false;
    std::vector<bool> appended;           // result of each append, in order
    std::vector<std::uint64_t> boundary;  // bytes written after each successful append
    int status = 0;                       // as waitpid gives it
};

// Writes up to `frames` frames in a child process; after the first failed
// append it tries `retries` more, then finishes. The child reports each
// result through a pipe before going on, so the parent knows what completed
// even when the child is killed. With `killAfterBytes` the child kills itself
// once its writer has written that many bytes.
ChildReport writeInChild(const std::filesystem::path &file, const plat::avi::WriterOptions &options,
                         std::uint32_t frames, rlim_t sizeLimit = RLIM_INFINITY, int retries = 2,
                         std::uint64_t killAfterBytes = UINT64_MAX) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (sizeLimit != RLIM_INFINITY) {
            ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
            const rlimit limit{sizeLimit, sizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (killAfterBytes != UINT64_MAX) plat::avi::killAfterAviBytes(killAfterBytes);
        auto writer = plat::avi::Writer::create(file, testFormat(), options);
        std::uint8_t created = writer ? 1 : 0;
        if (::write(fds[1], &created, 1) != 1 || !writer) ::_exit(2);
        int left = retries + 1;
        for (std::uint32_t i = 0; i < frames && left > 0; ++i) {
            const bool ok = writer->append(patternFrame(kFrameBytes, i));
            std::uint8_t msg[9] = {std::uint8_t(ok)};
            const std::uint64_t bytes = writer->bytesWritten();
            std::memcpy(msg + 1, &bytes, 8);
            if (::write(fds[1], msg, sizeof msg) != sizeof msg) ::_exit(3);
            if (!ok) --left;
        }
        writer->finish();
        ::_exit(0);
    }
    ::close(fds[1]);
    ChildReport report;
    std::uint8_t created = 0;
    report.created = ::read(fds[0], &created, 1) == 1 && created == 1;
    std::uint8_t msg[9];
    while (::read(fds[0], msg, sizeof msg) == sizeof msg) {
        report.appended.push_back(msg[0] != 0);
        if (msg[0]) {
            std::uint64_t bytes;
            std::memcpy(&bytes, msg + 1, 8);
            report.boundary.push_back(bytes);
        }
    }
    ::close(fds[0]);
    ::waitpid(pid, &report.status, 0);
    return report;
}

// The frames the reader finds are the first `count` frames written, intact.
void expectFramesIntact(const std::filesystem::path &file, std::size_t count, const std::string &context) {
    auto reader = plat::avi::Reader::open(file);
    ASSERT_TRUE(reader) << context;
    EXPECT_EQ(reader->frameCount(), count) << context;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < reader->frameCount(); ++i) {
        ASSERT_TRUE(reader->readFrame(i, bytes)) << context;
        EXPECT_EQ(bytes, patternFrame(kFrameBytes, std::uint32_t(i))) << context << " frame " << i;
    }
}

struct KillLayout {
    const char *name;
    plat::avi::WriterOptions options;
};

void PrintTo(const KillLayout &c, std::ostream *os) { *os << c.name; }

class KilledWriter : public ::testing::TestWithParam<KillLayout> {};

TEST_P(KilledWriter, EveryFrameCompletedBeforeTheKillIsRead) {
    TempDir dir;
    const auto options = GetParam().options;
    // A run without a kill gives the byte counts at which each append ended.
    const ChildReport full = writeInChild(dir.file("full.avi"), options, kFrames);
    ASSERT_TRUE(WIFEXITED(full.status) && WEXITSTATUS(full.status) == 0);
    ASSERT_EQ(full.boundary.size(), kFrames);
    EXPECT_EQ(ffprobe(dir.file("full.avi")).frames, long(kFrames));

    // Kill points: inside the file header; for every frame, at the boundary
    // before it (nothing of it written) and in the middle of its data; for
    // some frames also with the data complete but no header patched yet, and
    // halfway through the patches.
    std::vector<std::uint64_t> killAt = {1, 100, full.boundary[0] - kFrameBytes - 20};
    for (std::uint32_t k = 0; k + 1 < kFrames; ++k) {
        const std::uint64_t b = full.boundary[k];
        killAt.push_back(b);
        killAt.push_back(b + 8 + kFrameBytes / 2);
        if (k % 3 == 0) {
            killAt.push_back(b + 8 + kFrameBytes);
            killAt.push_back(b + 8 + kFrameBytes + 6);
        }
    }
    std::vector<std::filesystem::path> files;
    std::vector<std::size_t> completed;
    for (std::size_t i = 0; i < killAt.size(); ++i) {
        files.push_back(dir.file("kill" + std::to_string(i) + ".avi"));
        const ChildReport r = writeInChild(files.back(), options, kFrames, RLIM_INFINITY, 2, killAt[i]);
        ASSERT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == SIGKILL) << "kill at " << killAt[i];
        completed.push_back(r.boundary.size());
    }
    // The reader looks at every file; ffprobe, slow to start, at every third.
    std::vector<std::filesystem::path> probed;
    for (std::size_t i = 0; i < files.size(); i += 3) probed.push_back(files[i]);
    const auto probeList = ffprobeMany(probed);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string context =
            "kill after " + std::to_string(killAt[i]) + " bytes, " + std::to_string(completed[i]) + " appends returned";
        if (killAt[i] < full.boundary[0] - kFrameBytes) {
            // Killed while writing the header: no frame was ever accepted.
            EXPECT_EQ(completed[i], 0u);
            auto reader = plat::avi::Reader::open(files[i]);
            EXPECT_TRUE(!reader || reader->frameCount() == 0) << context;
            continue;
        }
        // Every frame whose append returned is there; so may be the one
        // whose bytes were all written when the kill came. The reader and
        // ffprobe agree on which.
        auto reader = plat::avi::Reader::open(files[i]);
        ASSERT_TRUE(reader) << context;
        const std::size_t found = reader->frameCount();
        EXPECT_GE(found, completed[i]) << context;
        EXPECT_LE(found, completed[i] + 1) << context;
        expectFramesIntact(files[i], found, context);
        if (i % 3 == 0) {
            const Probe &probe = probeList[i / 3];
            EXPECT_EQ(probe.frames, long(found)) << context << "\n" << probe.messages;
            EXPECT_EQ(probe.width, kWidth) << context;
        }
    }
}

plat::avi::WriterOptions oneRiff() { return {}; }

INSTANTIATE_TEST_SUITE_P(Layouts, KilledWriter,
                         ::testing::Values(KillLayout{"OneRiff", oneRiff()}, KillLayout{"ManyRiffs", smallRiffs()}),
                         [](const auto &info) { return std::string(info.param.name); });

struct DiskFullCase {
    const char *name;
    rlim_t limit;  // the largest file the child may write
    plat::avi::WriterOptions options;
};

void PrintTo(const DiskFullCase &c, std::ostream *os) { *os << c.name; }

class FullDisk : public ::testing::TestWithParam<DiskFullCase> {};

TEST_P(FullDisk, FailedAppendsLeaveEveryEarlierFrame) {
    const DiskFullCase &c = GetParam();
    TempDir dir;
    const auto file = dir.file("full.avi");
    const ChildReport r = writeInChild(file, c.options, kFrames, c.limit);
    ASSERT_TRUE(WIFEXITED(r.status)) << "the child died instead of seeing a failed write";
    if (!r.created) {
        // Not even the header fitted: creating the file is what failed.
        EXPECT_LT(c.limit, 2000u);
        return;
    }
    // Appends succeed up to the limit and fail from then on, retries included.
    const auto firstFailure = std::find(r.appended.begin(), r.appended.end(), false);
    ASSERT_NE(firstFailure, r.appended.end()) << "the limit was never reached";
    EXPECT_TRUE(std::all_of(firstFailure, r.appended.end(), [](bool ok) { return !ok; }));
    const std::size_t written = std::size_t(firstFailure - r.appended.begin());
    const Probe probe = ffprobe(file);
    EXPECT_EQ(probe.frames, long(written));
    EXPECT_EQ(probe.messages, "");
    expectFramesIntact(file, written, c.name);
    EXPECT_LE(std::filesystem::file_size(file), c.limit);
}

INSTANTIATE_TEST_SUITE_P(Limits, FullDisk,
                         ::testing::Values(DiskFullCase{"InsideTheHeader", 1000, {}},
                                           DiskFullCase{"AfterAFewFrames", 20000, {}},
                                           DiskFullCase{"MidFrameOneRiff", 23500, {}},
                                           DiskFullCase{"FirstRiffSwitch", 8300, smallRiffs()},
                                           DiskFullCase{"InALaterRiff", 21000, smallRiffs()}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(FullDisk, DeviceThatIsAlwaysFullRefusesTheFile) {
    EXPECT_FALSE(plat::avi::Writer::create("/dev/full", testFormat()));
}

}  // namespace
