// The image log read against the file it claims to describe.
#include <gtest/gtest.h>

#include <string>

#include "imagelog/log_format.h"
#include "log_match.h"

namespace {

using noctil::convert::matchLog;

std::string line(std::uint32_t image, const char *format = "8x6 RGB24") {
    plat::imagelog::LogLine l;
    l.image = image;
    l.exposeStart = 946'684'800'000'000 + std::int64_t(image) * 10'000'000;
    l.exposeEnd = *l.exposeStart + 2'000'000;
    l.readoutFrames = 3;
    l.driver = "Test camera";
    l.format = format;
    return plat::imagelog::formatLine(l);
}

std::string header() { return std::string(plat::imagelog::headerLine()) + "\n"; }

TEST(LogMatch, ALogOfEveryImage) {
    const auto m = matchLog(header() + line(1) + line(2) + line(3), 3, 8, 6);
    ASSERT_FALSE(m.error) << *m.error;
    EXPECT_TRUE(m.warnings.empty());
    ASSERT_EQ(m.lines.size(), 3u);
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(m.lines[i]);
        EXPECT_EQ(m.lines[i]->image, i + 1);
    }
    EXPECT_EQ(*m.lines[2]->exposeStart, 946'684'830'000'000);
}

TEST(LogMatch, WhatACrashLeavesIsAcceptedWithAWarning) {
    const struct {
        const char *what;
        std::string text;
        std::size_t images, withLines;
    } cases[] = {
        {"the last image without its line", header() + line(1) + line(2), 3, 2},
        {"the last line cut short", header() + line(1) + line(2) + line(3).substr(0, 20), 3, 2},
        {"only the header, one image", header(), 1, 0},
        {"the header cut short, one image", header().substr(0, 9), 1, 0},
        // The run ended while lines waited for room on a full disk: the
        // images whose lines were written keep their times.
        {"two images without lines", header() + line(1), 3, 1},
        {"a line cut short by a full disk, then written whole",
         header() + line(1) + line(2).substr(0, 25) + "\n" + line(2) + line(3), 4, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const auto m = matchLog(c.text, c.images, 8, 6);
        ASSERT_FALSE(m.error) << *m.error;
        EXPECT_FALSE(m.warnings.empty());
        std::size_t withLines = 0;
        for (const auto &l : m.lines) withLines += l.has_value();
        EXPECT_EQ(withLines, c.withLines);
        EXPECT_FALSE(m.lines.back()) << "the last image has no times";
    }
}

// The lines a full disk left in the side file beside the log follow the
// log's own: their images get their times.
TEST(LogMatch, TheLinesKeptBesideTheLogAreRead) {
    using noctil::convert::withKeptLines;
    const struct {
        const char *what;
        std::string log, kept;
        std::size_t withLines;
        bool warned;
    } cases[] = {
        {"two lines kept aside", header() + line(1), line(2) + line(3), 3, false},
        {"no side file", header() + line(1) + line(2), "", 2, true},
        {"the log's last line cut short, then kept whole", header() + line(1) + line(2).substr(0, 20),
         line(2) + line(3), 3, true},
        {"every line kept aside", header(), line(1) + line(2) + line(3), 3, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const auto m = matchLog(withKeptLines(c.log, c.kept), 3, 8, 6);
        ASSERT_FALSE(m.error) << *m.error;
        EXPECT_EQ(!m.warnings.empty(), c.warned);
        for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(m.lines[i].has_value(), i < c.withLines) << i;
    }
}

TEST(LogMatch, ALogOfAnotherFileIsRefused) {
    const struct {
        const char *what;
        std::string text;
        std::size_t images;
        const char *error;
    } cases[] = {
        {"more lines than images", header() + line(1) + line(2) + line(3), 2,
         "line 4: a line for image 3 but the file holds 2 images"},
        {"another frame size", header() + line(1, "640x480 RGB24"), 1,
         "line 2: frames of 640x480 but the file's images are 8x6"},
        {"lines out of order", header() + line(2) + line(1), 2, "line 2: image 2 where image 1 was expected"},
        {"an image twice", header() + line(1) + line(1), 2, "line 3: image 1 where image 2 was expected"},
        {"not a log at all", "SIMPLE  =                    T\n", 1,
         "line 1: not an image log: the first line is not the log's column names"},
        {"an empty file", "", 1, "the log is empty"},
        {"a malformed line", header() + "1\t-\n", 1, "line 2: not the log's eleven (or, written earlier, ten) tab-separated columns"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const auto m = matchLog(c.text, c.images, 8, 6);
        ASSERT_TRUE(m.error);
        EXPECT_EQ(*m.error, c.error);
    }
}

}  // namespace
