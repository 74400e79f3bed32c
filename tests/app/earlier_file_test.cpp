// What Record does with the file an earlier run left under the output name,
// through the real program: a file with images is replaced only when the
// user says so, and only once the new run has written its first image; a
// run that cannot start, or ends before its first image, leaves the earlier
// file and its image log byte for byte.
#include <camport.h>
#include <vfw.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app_test.h"
#include "earlier_night.h"
#include "dialog_user.h"
#include "files/paths.h"
#include "port/parallel_port.h"
#include "user/window_system.h"

namespace noctil::test {
namespace {

namespace fs = std::filesystem;

enum class How { Menu, Toolbar, StartCapture };
enum class Answer { Yes, No, Enter };

struct AskCase {
    const char *name;
    How how;
    Answer answer;
    bool replaced;
};
void PrintTo(const AskCase &c, std::ostream *os) { *os << c.name; }

const AskCase kAskCases[] = {
    {"YesFromTheMenuReplacesIt", How::Menu, Answer::Yes, true},
    {"NoFromTheMenuKeepsIt", How::Menu, Answer::No, false},
    {"EnterKeepsIt", How::Menu, Answer::Enter, false},
    {"NoFromTheToolbarKeepsIt", How::Toolbar, Answer::No, false},
    {"YesFromStartCaptureReplacesIt", How::StartCapture, Answer::Yes, true},
    {"NoFromStartCaptureKeepsIt", How::StartCapture, Answer::No, false},
};

class AskBeforeReplacingTest : public AppTest, public ::testing::WithParamInterface<AskCase> {};

TEST_P(AskBeforeReplacingTest, AFileWithImagesIsReplacedOnlyWhenTheUserSaysSo) {
    const AskCase &c = GetParam();
    installCamera(Camera::Test240);
    writeSettingsFile("[Filenames]\r\nImageFile=C:\\night.avi\r\n[Capture]\r\nExposure=100\r\nDelay=100\r\n");
    writeEarlierNight("C:\\night.avi", 3);
    std::ofstream(plat::nativePath("C:\\night.log"), std::ios::binary) << "the earlier night's log\n";
    const std::string before = bytesOf("C:\\night.avi");
    const std::string logBefore = bytesOf("C:\\night.log");

    bool stopOffered = false, recordOffered = false;
    std::size_t exposuresAfter = 0;
    HWND mainDuringRun = nullptr;
    user().at(500, [&] {
        switch (c.how) {
        case How::Menu: choose(IDM_RECORD); break;
        case How::Toolbar: EXPECT_TRUE(plat::user::clickToolbarButton(toolbar(), IDM_RECORD)); break;
        case How::StartCapture:
            choose(IDM_SETUP);
            user().after(50, [] { EXPECT_TRUE(clickItem(findDialog("Setup Capture"), IDC_STARTCAPTURE)); });
            break;
        }
    });
    user().at(700, [&] {
        mainDuringRun = mainWindow();
        HWND box = findDialog("Record");
        ASSERT_NE(box, nullptr) << "Record asks first";
        switch (c.answer) {
        case Answer::Yes: EXPECT_TRUE(clickItem(box, IDYES)); break;
        case Answer::No: EXPECT_TRUE(clickItem(box, IDNO)); break;
        case Answer::Enter: pressEnter(); break;  // No is the default
        }
    });
    user().at(3000, [&] {
        stopOffered = menuEnabled(IDM_STOP);
        recordOffered = menuEnabled(IDM_RECORD);
        exposuresAfter = exposures();
        if (stopOffered) choose(IDM_STOP);
    });
    user().at(3100, [&] { exitProgram(); });
    ASSERT_EQ(runProgram(), 0);

    ASSERT_EQ(messageBoxLog().size(), 1u);
    const plat::user::MessageBoxRecord &box = messageBoxLog()[0];
    EXPECT_EQ(box.text, "C:\\night.avi already holds 3 images.\nReplace it with the images of this run?");
    EXPECT_EQ(box.caption, "Record");
    EXPECT_EQ(box.type, UINT(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
    EXPECT_EQ(box.owner, mainDuringRun);
    if (c.replaced) {
        EXPECT_EQ(box.result, IDYES);
        EXPECT_TRUE(stopOffered);
        EXPECT_GE(exposuresAfter, 2u);
        EXPECT_NE(bytesOf("C:\\night.avi"), before);
        EXPECT_NE(bytesOf("C:\\night.log"), logBefore) << "the new run's log replaces the earlier one";
    } else {
        EXPECT_EQ(box.result, IDNO);
        EXPECT_FALSE(stopOffered) << "no run started";
        EXPECT_TRUE(recordOffered);
        EXPECT_EQ(exposuresAfter, 0u) << "the camera never integrated";
        EXPECT_EQ(bytesOf("C:\\night.avi"), before) << "the earlier file, byte for byte";
        EXPECT_EQ(bytesOf("C:\\night.log"), logBefore);
    }
    EXPECT_EQ(filesOnDriveC(), (std::vector<std::string>{"night.avi", "night.log"})) << "nothing left beside";
}

INSTANTIATE_TEST_SUITE_P(Answers, AskBeforeReplacingTest, ::testing::ValuesIn(kAskCases),
                         [](const auto &info) { return std::string(info.param.name); });

// Files that hold no image are replaced without a question; numbering never
// replaces anything, so it never asks.
TEST_F(AppTest, AFileWithoutImagesIsReplacedWithoutAQuestion) {
    installCamera(Camera::Test240);
    writeSettingsFile("[Filenames]\r\nImageFile=C:\\night.avi\r\n[Capture]\r\nExposure=100\r\nDelay=100\r\n");
    writeEarlierNight("C:\\night.avi", 0);
    user().at(500, [&] { choose(IDM_RECORD); });
    user().at(2000, [&] { choose(IDM_STOP); });
    user().at(2100, [&] { exitProgram(); });
    ASSERT_EQ(runProgram(), 0);
    EXPECT_EQ(messageBoxTexts(), std::vector<std::string>{});
    EXPECT_GE(imagesIn("C:\\night.avi"), 2) << "the new run's images";
}

// Runs that end before their first image: the stream cannot be set up (no
// camera, so no format), the user stops or ends the program before any
// image came, or a paused run only showed its images.
enum class End { Stop, Exit };
struct NoImageCase {
    const char *name;
    Camera camera;
    bool paused;
    End end;
    std::uint32_t endMs;
    std::vector<std::string> messages;  // after the question
};
void PrintTo(const NoImageCase &c, std::ostream *os) { *os << c.name; }

const NoImageCase kNoImageCases[] = {
    {"NoDriverMeansNoFormat", Camera::None, false, End::Stop, 1500, {"Can't set AVI stream format"}},
    {"StoppedBeforeTheFirstImage", Camera::Test240, false, End::Stop, 700, {}},
    {"ExitBeforeTheFirstImage", Camera::Test240, false, End::Exit, 700, {}},
    {"PausedRunShowedItsImagesOnly", Camera::Test240, true, End::Stop, 16000, {}},
};

class NoImageTest : public AppTest, public ::testing::WithParamInterface<NoImageCase> {};

TEST_P(NoImageTest, TheEarlierFileStaysAsItWas) {
    const NoImageCase &c = GetParam();
    installCamera(c.camera);
    writeSettingsFile("[Filenames]\r\nImageFile=C:\\night.avi\r\n[Capture]\r\nExposure=5000\r\n");
    writeEarlierNight("C:\\night.avi", 2);
    std::ofstream(plat::nativePath("C:\\night.log"), std::ios::binary) << "the earlier night's log\n";
    const std::string before = bytesOf("C:\\night.avi");
    std::vector<std::string> filesDuringRun;
    std::string titleDuringRun;
    if (c.paused) user().at(400, [&] { choose(IDM_PAUSE); });
    user().at(500, [&] { choose(IDM_RECORD); });
    user().at(600, [&] { EXPECT_TRUE(clickItem(findDialog("Record"), IDYES)); });
    user().at(650, [&] {
        if (!c.messages.empty()) pressEnter();
    });
    user().at(c.endMs - 10, [&] {
        filesDuringRun = filesOnDriveC();
        titleDuringRun = windowText(snapshotWindow());
    });
    if (c.end == End::Stop) {
        user().at(c.endMs, [&] { choose(IDM_STOP); });
        user().at(c.endMs + 100, [&] { exitProgram(); });
    } else {
        user().at(c.endMs, [&] { exitProgram(); });
    }
    ASSERT_EQ(runProgram(), 0);

    std::vector<std::string> texts = messageBoxTexts();
    ASSERT_FALSE(texts.empty());
    texts.erase(texts.begin());  // the question
    EXPECT_EQ(texts, c.messages);
    EXPECT_EQ(bytesOf("C:\\night.avi"), before) << "the earlier file, byte for byte";
    EXPECT_EQ(bytesOf("C:\\night.log"), "the earlier night's log\n");
    EXPECT_EQ(filesOnDriveC(), (std::vector<std::string>{"night.avi", "night.log"}));
    if (c.camera != Camera::None) {
        // While the run waited for its first image the earlier file was kept aside.
        EXPECT_EQ(filesDuringRun, (std::vector<std::string>{"night.avi", "night.avi.previous", "night.log"}));
    }
    if (c.paused) {
        EXPECT_GE(exposures(), 2u) << "the paused run went on exposing";
        EXPECT_EQ(titleDuringRun.find("night.avi - "), std::string::npos) << "no image was counted";
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, NoImageTest, ::testing::ValuesIn(kNoImageCases),
                         [](const auto &info) { return std::string(info.param.name); });

// A run that died (a crash, the power gone) before its first image left the
// earlier night aside as night.avi.previous and, under the name, a file with
// no image. The next Record puts the earlier night back and asks about it
// like any file with images.
enum class Under { Nothing, EmptyStream, NoBytes, OneImage };
struct LeftAsideCase {
    const char *name;
    Under under;
    Answer answer;
};
void PrintTo(const LeftAsideCase &c, std::ostream *os) { *os << c.name; }

const LeftAsideCase kLeftAsideCases[] = {
    {"AnEmptyStreamUnderTheName_No", Under::EmptyStream, Answer::No},
    {"ACutFileUnderTheName_No", Under::NoBytes, Answer::No},
    {"NothingUnderTheName_No", Under::Nothing, Answer::No},
    {"AnEmptyStreamUnderTheName_Yes", Under::EmptyStream, Answer::Yes},
    {"ImagesUnderTheNameToo_No", Under::OneImage, Answer::No},
    // Yes, but the earlier night cannot go aside: neither file is touched.
    {"ImagesUnderTheNameToo_Yes", Under::OneImage, Answer::Yes},
};

class LeftAsideTest : public AppTest, public ::testing::WithParamInterface<LeftAsideCase> {};

TEST_P(LeftAsideTest, TheEarlierNightComesBackBeforeTheQuestion) {
    const LeftAsideCase &c = GetParam();
    installCamera(Camera::Test240);
    writeSettingsFile("[Filenames]\r\nImageFile=C:\\night.avi\r\n[Capture]\r\nExposure=100\r\nDelay=100\r\n");
    writeEarlierNight("C:\\night.avi", 2);
    fs::rename(plat::nativePath("C:\\night.avi"), plat::nativePath("C:\\night.avi.previous"));
    const std::string earlier = bytesOf("C:\\night.avi.previous");
    switch (c.under) {
    case Under::Nothing: break;
    case Under::EmptyStream: writeEarlierNight("C:\\night.avi", 0); break;
    case Under::NoBytes: std::ofstream(plat::nativePath("C:\\night.avi"), std::ios::binary); break;
    case Under::OneImage: writeEarlierNight("C:\\night.avi", 1); break;
    }
    std::ofstream(plat::nativePath("C:\\night.log"), std::ios::binary) << "the earlier night's log\n";
    const std::string underBefore = bytesOf("C:\\night.avi");

    user().at(500, [&] { choose(IDM_RECORD); });
    user().at(700, [&] {
        HWND box = findDialog("Record");
        ASSERT_NE(box, nullptr) << "Record asks first";
        EXPECT_TRUE(clickItem(box, c.answer == Answer::Yes ? IDYES : IDNO));
    });
    bool runStarted = false;
    user().at(800, [&] {
        if (findDialog("Error")) pressEnter();
    });
    user().at(3000, [&] {
        runStarted = menuEnabled(IDM_STOP);
        if (runStarted) choose(IDM_STOP);
    });
    user().at(3100, [&] { exitProgram(); });
    ASSERT_EQ(runProgram(), 0);

    if (c.under == Under::OneImage) {
        // Both hold images: nothing is moved, the question names the file
        // under the name; after Yes the earlier night has nowhere to go, so
        // no run starts and the user hears why.
        std::vector<std::string> expected = {
            "C:\\night.avi already holds 1 image.\nReplace it with the images of this run?"};
        if (c.answer == Answer::Yes)
            expected.push_back(
                "Can't set C:\\night.avi aside as C:\\night.avi.previous; no run has started, the file "
                "is as it was.\nCannot create a file when that file already exists.");
        EXPECT_EQ(messageBoxTexts(), expected);
        EXPECT_FALSE(runStarted);
        EXPECT_EQ(bytesOf("C:\\night.avi"), underBefore);
        EXPECT_EQ(bytesOf("C:\\night.avi.previous"), earlier);
        EXPECT_EQ(bytesOf("C:\\night.log"), "the earlier night's log\n");
        return;
    }
    ASSERT_EQ(messageBoxLog().size(), 1u);
    EXPECT_EQ(messageBoxLog()[0].text,
              "C:\\night.avi already holds 2 images.\nReplace it with the images of this run?");
    if (c.answer == Answer::No) {
        EXPECT_EQ(bytesOf("C:\\night.avi"), earlier) << "the earlier night, byte for byte, under its name";
        EXPECT_EQ(bytesOf("C:\\night.log"), "the earlier night's log\n");
        EXPECT_EQ(filesOnDriveC(), (std::vector<std::string>{"night.avi", "night.log"}));
    } else {
        EXPECT_NE(bytesOf("C:\\night.avi"), earlier);
        EXPECT_GE(imagesIn("C:\\night.avi"), 2) << "the new run's images";
        EXPECT_EQ(filesOnDriveC(), (std::vector<std::string>{"night.avi", "night.log"})) << "nothing left aside";
    }
}

INSTANTIATE_TEST_SUITE_P(Leftovers, LeftAsideTest, ::testing::ValuesIn(kLeftAsideCases),
                         [](const auto &info) { return std::string(info.param.name); });

// Names too long for ".previous" behind them (a name has at most 259
// characters, a file part at most 255): the earlier file waits under the
// name with its end replaced by "~.previous", in its own folder, until the
// new run has its first image. Where no such name fits, no run starts.
enum class LongEnd { StopBeforeTheFirstImage, StopAfterImages };
struct LongNameCase {
    const char *name;
    std::string folder;  // "C:\\" or a folder below it, with its backslash
    std::size_t length;  // of the whole name, ".avi" included
    LongEnd end;
    bool setAside;          // false: no shorter name fits, no run starts
    int earlierImages = 2;  // 0: replaced without a question
};
void PrintTo(const LongNameCase &c, std::ostream *os) { *os << c.name; }

const std::string kDeepFolder = "C:\\" + std::string(100, 'f') + "\\";
const std::string kDeepestFolder = "C:\\" + std::string(243, 'f') + "\\";
const LongNameCase kLongNameCases[] = {
    {"Name251_StoppedBeforeItsFirstImage", "C:\\", 251, LongEnd::StopBeforeTheFirstImage, true},
    {"Name251_WroteImages", "C:\\", 251, LongEnd::StopAfterImages, true},
    {"FilePartOf247_StoppedBeforeItsFirstImage", "C:\\", 250, LongEnd::StopBeforeTheFirstImage, true},
    {"Name259InAFolder_StoppedBeforeItsFirstImage", kDeepFolder, 259, LongEnd::StopBeforeTheFirstImage, true},
    {"Name259InAFolder_WroteImages", kDeepFolder, 259, LongEnd::StopAfterImages, true},
    {"AFolderWithoutRoomForAnotherName", kDeepestFolder, 252, LongEnd::StopAfterImages, false},
    {"AFolderWithoutRoomForAFileWithoutImages", kDeepestFolder, 252, LongEnd::StopAfterImages, true, 0},
};

// The entries of a folder of drive C apart from the program's temporary files, sorted.
std::vector<std::string> filesIn(const std::string &windowsFolder) {
    std::vector<std::string> names;
    for (const fs::directory_entry &e : fs::directory_iterator(plat::nativePath(windowsFolder))) {
        const std::string name = e.path().filename().string();
        if (name.rfind("_NOCTIL", 0) != 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class LongNameTest : public AppTest, public ::testing::WithParamInterface<LongNameCase> {};

TEST_P(LongNameTest, TheEarlierFileWaitsUnderAShorterName) {
    const LongNameCase &c = GetParam();
    const std::string filePart = std::string(c.length - c.folder.size() - 4, 'n') + ".avi";
    const std::string name = c.folder + filePart;
    ASSERT_EQ(name.size(), c.length);
    const std::string aside = filePart.substr(0, filePart.size() - 10) + "~.previous";
    fs::create_directories(plat::nativePath(c.folder));
    installCamera(Camera::Test240);
    const bool longRun = c.end == LongEnd::StopAfterImages;
    writeSettingsFile("[Filenames]\r\nImageFile=" + name + "\r\n[Capture]\r\nExposure=" + (longRun ? "100" : "5000") +
                      "\r\nDelay=100\r\n");
    writeEarlierNight(name.c_str(), c.earlierImages);
    const std::string before = bytesOf(name.c_str());
    // The earlier night's image log, which the platform wrote beside its images.
    const std::string log = filePart.substr(0, filePart.size() - 4) + ".log";
    const std::string logBefore = bytesOf((c.folder + log).c_str());
    ASSERT_EQ(logBefore == "(no file)", c.earlierImages == 0);

    std::vector<std::string> duringRun;
    user().at(500, [&] { choose(IDM_RECORD); });
    user().at(600, [&] {
        if (c.earlierImages == 0) return;  // no question
        EXPECT_TRUE(clickItem(findDialog("Record"), IDYES));
    });
    user().at(650, [&] {
        duringRun = filesIn(c.folder);
        if (!c.setAside) pressEnter();
    });
    const std::uint32_t stopMs = longRun ? 3000 : 700;
    user().at(stopMs, [&] {
        if (menuEnabled(IDM_STOP)) choose(IDM_STOP);
    });
    user().at(stopMs + 100, [&] { exitProgram(); });
    ASSERT_EQ(runProgram(), 0);

    const std::vector<std::string> boxes = messageBoxTexts();
    if (c.earlierImages == 0) {
        // Nothing to keep: replaced at once, without a question, as any such file.
        EXPECT_EQ(boxes, std::vector<std::string>{});
        EXPECT_EQ(std::find(duringRun.begin(), duringRun.end(), aside), duringRun.end()) << "nothing set aside";
        EXPECT_GE(imagesIn(name.c_str()), 2) << "the new run's images";
        EXPECT_EQ(filesIn(c.folder), (std::vector<std::string>{filePart, log}));
        return;
    }
    ASSERT_FALSE(boxes.empty());
    if (!c.setAside) {
        EXPECT_EQ(boxes, (std::vector<std::string>{boxes[0], "Can't set " + name +
                                                                 " aside: its folder leaves no room for another "
                                                                 "name.\nNo run has started; the file is as it was."}));
        EXPECT_EQ(exposures(), 0u) << "no run started";
        EXPECT_EQ(bytesOf(name.c_str()), before) << "the earlier file, byte for byte";
        EXPECT_EQ(filesIn(c.folder), (std::vector<std::string>{filePart, log}));
        EXPECT_EQ(bytesOf((c.folder + log).c_str()), logBefore);
        return;
    }
    EXPECT_EQ(boxes.size(), 1u) << "the question alone";
    EXPECT_EQ(duringRun, (std::vector<std::string>{filePart, log, aside}))
        << "the earlier file waits beside the new one";
    if (c.end == LongEnd::StopBeforeTheFirstImage) {
        EXPECT_EQ(bytesOf(name.c_str()), before) << "the earlier file, byte for byte, under its name";
        EXPECT_EQ(bytesOf((c.folder + log).c_str()), logBefore) << "and its image log";
    } else {
        EXPECT_GE(imagesIn(name.c_str()), 2) << "the new run's images";
        EXPECT_NE(bytesOf((c.folder + log).c_str()), logBefore) << "the new run's image log";
    }
    EXPECT_EQ(filesIn(c.folder), (std::vector<std::string>{filePart, log})) << "nothing left aside";
}

INSTANTIATE_TEST_SUITE_P(Names, LongNameTest, ::testing::ValuesIn(kLongNameCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace noctil::test
