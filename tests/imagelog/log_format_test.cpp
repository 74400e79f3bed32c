// The image log's text: UTC times, seconds, whole lines, and the log's name
// beside its AVI file.
#include <gtest/gtest.h>

#include <string>

#include "imagelog/log_format.h"
#include "utc_oracle.h"

namespace {

using plat::imagelog::LogLine;
using plat::imagelog::UtcMicros;

TEST(UtcText, AgreesWithTheCalendarAndReadsBack) {
    const struct {
        UtcMicros t;
        const char *text;
    } cases[] = {
        {0, "1970-01-01T00:00:00.000000"},
        {946'684'800'000'000, "2000-01-01T00:00:00.000000"},
        {951'782'400'000'001, "2000-02-29T00:00:00.000001"},    // leap day of a 400-year
        {4'107'542'399'999'999, "2100-02-28T23:59:59.999999"},  // 2100 has no leap day
        {4'107'542'400'000'000, "2100-03-01T00:00:00.000000"},
        {1'798'761'599'123'456, "2026-12-31T23:59:59.123456"},
        {-1, "1969-12-31T23:59:59.999999"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(plat::imagelog::formatUtc(c.t), c.text);
        EXPECT_EQ(noctil::test::utcTextByCalendar(c.t), c.text);
        EXPECT_EQ(plat::imagelog::parseUtc(c.text), c.t);
    }
}

TEST(UtcText, RefusesWhatIsNotExactlyOneTime) {
    for (const char *text : {"2001-02-29T00:00:00.000000", "2000-13-01T00:00:00.000000", "2000-00-10T00:00:00.000000",
                             "2000-04-31T00:00:00.000000", "2000-01-01T24:00:00.000000", "2000-01-01T00:60:00.000000",
                             "2000-01-01T00:00:60.000000", "2000-01-01 00:00:00.000000", "2000-01-01T00:00:00.00000",
                             "2000-01-01T00:00:00.0000000", "2000-01-01T00:00:00.000000Z", "2000-01-01T00:00:00,000000",
                             "20x0-01-01T00:00:00.000000", "", "-"}) {
        EXPECT_FALSE(plat::imagelog::parseUtc(text).has_value()) << text;
    }
}

TEST(SecondsText, SixDecimalsBothWays) {
    const struct {
        std::int64_t micros;
        const char *text;
    } cases[] = {{0, "0.000000"},       {2'000'000, "2.000000"},   {1'000'001, "1.000001"},
                 {999'999, "0.999999"}, {-1'500'000, "-1.500000"}, {86'400'123'456, "86400.123456"}};
    for (const auto &c : cases) {
        EXPECT_EQ(plat::imagelog::formatSeconds(c.micros), c.text);
        EXPECT_EQ(plat::imagelog::parseSeconds(c.text), c.micros) << c.text;
    }
    for (const char *text : {"2", "2.0", "2.0000000", "2,000000", "x.000000", "2.00000x", "", ".000000", "+2.000000"})
        EXPECT_FALSE(plat::imagelog::parseSeconds(text).has_value()) << text;
}

LogLine sampleLine() {
    LogLine l;
    l.image = 3;
    l.exposeStart = 946'684'800'500'000;
    l.exposeEnd = 946'684'803'500'000;
    l.ampOffMicros = 2'000'000;
    l.readoutFirst = 946'684'803'500'000;
    l.readoutLast = 946'684'803'632'000;
    l.readoutFrames = 5;
    l.driver = "Simulated CCTV camera";
    l.format = "640x480 RGB24";
    return l;
}

TEST(LogLineText, WritesTheColumnsInOrderAndReadsThemBack) {
    const LogLine l = sampleLine();
    const std::string text = plat::imagelog::formatLine(l);
    EXPECT_EQ(text,
              "3\t2000-01-01T00:00:00.500000\t2000-01-01T00:00:03.500000\t3.000000\t2.000000\t"
              "2000-01-01T00:00:03.500000\t2000-01-01T00:00:03.632000\t5\tSimulated CCTV camera\t640x480 RGB24\t0.000000\n");
    std::string error;
    const auto back = plat::imagelog::parseLine(std::string_view(text).substr(0, text.size() - 1), &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->image, 3u);
    EXPECT_EQ(back->exposeStart, l.exposeStart);
    EXPECT_EQ(back->exposeEnd, l.exposeEnd);
    EXPECT_EQ(back->ampOffMicros, l.ampOffMicros);
    EXPECT_EQ(back->readoutFirst, l.readoutFirst);
    EXPECT_EQ(back->readoutLast, l.readoutLast);
    EXPECT_EQ(back->readoutFrames, 5u);
    EXPECT_EQ(back->driver, l.driver);
    EXPECT_EQ(back->format, l.format);
}

TEST(LogLineText, UnknownPartsAreDashesAndTextsStayOnTheirLine) {
    LogLine l;
    l.image = 1;
    l.driver = "two\twords\nand a line";
    const std::string text = plat::imagelog::formatLine(l);
    EXPECT_EQ(text, "1\t-\t-\t-\t-\t-\t-\t0\ttwo words and a line\t-\t-\n");
    const auto back = plat::imagelog::parseLine(std::string_view(text).substr(0, text.size() - 1));
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->exposeStart);
    EXPECT_FALSE(back->readoutFirst);
    EXPECT_EQ(back->format, "");
}

TEST(LogLineText, RefusesLinesThatContradictThemselves) {
    const std::string good = plat::imagelog::formatLine(sampleLine());
    const auto withField = [&](int column, const std::string &value) {
        std::string line = good.substr(0, good.size() - 1);
        std::size_t begin = 0;
        for (int i = 0; i < column; ++i) begin = line.find('\t', begin) + 1;
        const std::size_t end = line.find('\t', begin);
        return line.replace(begin, end == std::string::npos ? std::string::npos : end - begin, value);
    };
    const struct {
        const char *what;
        std::string line;
    } cases[] = {
        {"too few columns", "3\t2000-01-01T00:00:00.500000"},
        {"an extra column", good.substr(0, good.size() - 1) + "\tmore"},
        {"image 0", withField(0, "0")},
        {"image not a number", withField(0, "three")},
        {"a start without an end", withField(2, "-")},
        {"exposure seconds that disagree with the times", withField(3, "2.999999")},
        {"more amplifier-off time than exposure", withField(4, "3.000001")},
        {"seconds without times", "1\t-\t-\t2.000000\t0.000000\t-\t-\t0\t-\t-"},
        {"a readout time that is no time", withField(5, "soon")},
        {"a frame count that is no number", withField(7, "five")},
        {"suspended longer than the exposure", withField(10, "3.000001")},
        {"suspended seconds that are no seconds", withField(10, "a while")},
        {"suspended seconds without times", "1\t-\t-\t-\t-\t-\t-\t0\t-\t-\t1.000000"},
    };
    for (const auto &c : cases) {
        std::string error;
        EXPECT_FALSE(plat::imagelog::parseLine(c.line, &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
}

// The suspension column reads back, and a log written before it had the
// column still reads, header and lines, with no suspension.
TEST(LogLineText, TheSuspensionColumnAndLogsWrittenWithoutIt) {
    const std::string header(plat::imagelog::headerLine());
    const std::string olderHeader = header.substr(0, header.rfind('\t'));
    const struct {
        const char *what;
        std::string line;
        std::int64_t suspended;
    } cases[] = {
        {"suspended within the exposure",
         "3\t2000-01-01T00:00:00.500000\t2000-01-01T00:01:03.500000\t63.000000\t2.000000\t-\t-\t0\t-\t-\t60.000000",
         60'000'000},
        {"not suspended", "3\t2000-01-01T00:00:00.500000\t2000-01-01T00:00:03.500000\t3.000000\t2.000000\t-\t-\t0\t-\t-"
                          "\t0.000000",
         0},
        {"a line of a log written before the column",
         "3\t2000-01-01T00:00:00.500000\t2000-01-01T00:00:03.500000\t3.000000\t2.000000\t-\t-\t0\t-\t-", 0},
    };
    for (const auto &c : cases) {
        std::string error;
        const auto line = plat::imagelog::parseLine(c.line, &error);
        ASSERT_TRUE(line) << c.what << ": " << error;
        EXPECT_EQ(line->suspendedMicros, c.suspended) << c.what;
    }
    EXPECT_EQ(header.substr(header.rfind('\t') + 1), "suspended_s");
    EXPECT_TRUE(plat::imagelog::isHeaderLine(header));
    EXPECT_TRUE(plat::imagelog::isHeaderLine(olderHeader));
    EXPECT_FALSE(plat::imagelog::isHeaderLine(olderHeader.substr(0, olderHeader.rfind('\t'))));
}

TEST(LogPath, SameNameBesideTheFileWithTheExtensionsCase) {
    const struct {
        const char *avi, *log;
    } cases[] = {{"/d/c/M42_003.AVI", "/d/c/M42_003.LOG"},   {"/d/c/night.avi", "/d/c/night.log"},
                 {"/d/c/Mixed.Avi", "/d/c/Mixed.LOG"},       {"/d/c/no-extension", "/d/c/no-extension.log"},
                 {"/d/c/two.dots.avi", "/d/c/two.dots.log"}, {"/d/c/odd.log", "/d/c/odd.log.log"},
                 {"/d/c/ODD.Log", "/d/c/ODD.Log.LOG"}};
    for (const auto &c : cases) EXPECT_EQ(plat::imagelog::logPathFor(c.avi).string(), c.log) << c.avi;
}

}  // namespace
