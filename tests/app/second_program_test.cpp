// A second Noctil on the same drives while the first records: Record never
// sets aside, replaces or deletes the file or the image log the first is
// writing, and says who is writing it; once the first is gone (it crashed,
// its lock went with it) Record goes on as ever. The first program is a
// process of its own, holding its files as the platform's writers do.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app_test.h"
#include "dialog_user.h"
#include "earlier_night.h"
#include "files/paths.h"
#include "lock_holder.h"

namespace noctil::test {
namespace {

using Ending = LockHolder::Ending;

struct SecondCase {
    const char *name;
    const char *firstFile;  // what the first program is writing
    Ending ending;
    // The box Record shows, given the first program as the platform names it.
    std::string (*box)(const std::string &first);
    bool recorded;  // the second program's run started
};
void PrintTo(const SecondCase &c, std::ostream *os) { *os << c.name; }

// clang-format off
const SecondCase kSecondCases[] = {
    {"TheFileItWritesIsRefused", "C:\\night.avi", Ending::WhenLetGo,
     [](const std::string &first) {
         return "Can't record into C:\\night.avi: " + first +
                " is writing it.\nNo run has started; the file is as it was.";
     }, false},
    {"TheLogItWritesIsRefused", "C:\\night.log", Ending::WhenLetGo,
     [](const std::string &first) {
         return "Can't record into C:\\night.avi: " + first +
                " is writing its image log C:\\night.log.\nNo run has started; both files are as they were.";
     }, false},
    {"AFirstThatCrashedHoldsNothing", "C:\\night.avi", Ending::AtOnce,
     [](const std::string &) {
         return std::string("C:\\night.avi already holds 3 images.\nReplace it with the images of this run?");
     }, true},
};
// clang-format on

class SecondProgramTest : public AppTest, public ::testing::WithParamInterface<SecondCase> {};

TEST_P(SecondProgramTest, RecordLeavesTheFirstProgramsFilesAlone) {
    const SecondCase &c = GetParam();
    installCamera(Camera::Test240);
    writeSettingsFile("[Filenames]\r\nImageFile=C:\\night.avi\r\n[Capture]\r\nExposure=100\r\nDelay=100\r\n");
    writeEarlierNight("C:\\night.avi", 3);
    std::ofstream(plat::nativePath("C:\\night.log"), std::ios::binary) << "the first night's log\n";
    const std::string aviBefore = bytesOf("C:\\night.avi");
    const std::string logBefore = bytesOf("C:\\night.log");
    LockHolder first(plat::nativePath(c.firstFile), LockHolder::Open::Writing, c.ending);
    ASSERT_TRUE(first.held());
    const std::string firstNamed = c.ending == Ending::WhenLetGo ? first.named() : "";

    bool stopOffered = false, recordOffered = false;
    user().at(500, [&] { choose(IDM_RECORD); });
    user().at(700, [&] {
        if (HWND question = findDialog("Record"))
            EXPECT_TRUE(clickItem(question, IDYES));
        else
            pressEnter();  // the box that refuses
    });
    user().at(3000, [&] {
        stopOffered = menuEnabled(IDM_STOP);
        recordOffered = menuEnabled(IDM_RECORD);
        if (stopOffered) choose(IDM_STOP);
    });
    user().at(3100, [&] { exitProgram(); });
    ASSERT_EQ(runProgram(), 0);

    ASSERT_FALSE(messageBoxTexts().empty());
    EXPECT_EQ(messageBoxTexts()[0], c.box(firstNamed));
    EXPECT_EQ(stopOffered, c.recorded);
    if (c.recorded) {
        EXPECT_GE(imagesIn("C:\\night.avi"), 2) << "the second program's run";
        return;
    }
    EXPECT_EQ(messageBoxTexts().size(), 1u) << "no question about replacing";
    EXPECT_EQ(messageBoxLog()[0].caption, "Error");
    EXPECT_TRUE(recordOffered);
    EXPECT_EQ(exposures(), 0u) << "the camera never integrated";
    EXPECT_EQ(bytesOf("C:\\night.avi"), aviBefore) << "the first program's file, byte for byte";
    EXPECT_EQ(bytesOf("C:\\night.log"), logBefore) << "and its log";
    EXPECT_EQ(filesOnDriveC(), (std::vector<std::string>{"night.avi", "night.log"})) << "nothing set aside";
}

INSTANTIATE_TEST_SUITE_P(FirstProgram, SecondProgramTest, ::testing::ValuesIn(kSecondCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace noctil::test
