// Two processes on one platform root: what one is writing (an output file,
// an image log) the other may not replace, move or delete, and the
// restart manager names the writer; a writer that crashed holds nothing.
// The instance lock tells a second Noctil of the first, by process id, and
// one that crashed keeps no one out.
#include <restartmanager.h>
#include <vfw.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include <unistd.h>

#include "core/notices.h"
#include "files/instance_lock.h"
#include "files/paths.h"
#include "files/replace_file.h"
#include "imagelog/image_log.h"
#include "lock_holder.h"
#include "platform_fixture.h"

namespace noctil::test {
namespace {

using Ending = LockHolder::Ending;
using Open = LockHolder::Open;

constexpr const char *kNight = "C:\\night.avi";
constexpr const char *kNightLog = "C:\\night.log";
const std::string kFirstBytes = "the first program's night\n";

std::string bytesOf(const char *windowsName) {
    std::ifstream in(plat::nativePath(windowsName), std::ios::binary);
    if (!in) return "(no file)";
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What the second program does to the first one's file: the Win32 error it
// meets, ERROR_SUCCESS when it got its way.
struct ActCase {
    const char *name;
    const char *held;  // the first program's file
    std::function<DWORD()> act;
};

DWORD openForWriting() {
    AVIFileInit();
    PAVIFILE file = nullptr;
    SetLastError(ERROR_SUCCESS);
    const DWORD error =
        AVIFileOpenA(&file, kNight, OF_WRITE | OF_CREATE, nullptr) == AVIERR_OK ? ERROR_SUCCESS : GetLastError();
    if (file) AVIFileRelease(file);
    AVIFileExit();
    return error;
}

DWORD startLogBeside() {
    return plat::imagelog::ImageLog::startBeside(plat::nativePath(kNight), plat::session().clock())
               ? ERROR_SUCCESS
               : ERROR_SHARING_VIOLATION;  // a log that does not start says why on stderr alone
}

// clang-format off
const ActCase kActs[] = {
    {"OpenForWriting", kNight,    openForWriting},
    {"SetAside",       kNight,    [] { return MoveFileA(kNight, "C:\\night.avi.previous") ? ERROR_SUCCESS : GetLastError(); }},
    {"Delete",         kNight,    [] { return DeleteFileA(kNight) ? ERROR_SUCCESS : GetLastError(); }},
    {"Remove",         kNight,    [] { return std::remove(kNight) == 0 ? DWORD(ERROR_SUCCESS) : GetLastError(); }},
    {"StartImageLog",  kNightLog, startLogBeside},
};
// clang-format on

class SecondProcessTest : public PlatformTest {
protected:
    void writeFirstFile(const char *windowsName) {
        std::ofstream(plat::nativePath(windowsName), std::ios::binary) << kFirstBytes;
    }
};

TEST_F(SecondProcessTest, AFileAnotherProcessWritesIsNotReplacedMovedOrDeleted) {
    for (const ActCase &c : kActs) {
        SCOPED_TRACE(c.name);
        writeFirstFile(c.held);
        LockHolder first(plat::nativePath(c.held), Open::Writing);
        ASSERT_TRUE(first.held());
        EXPECT_EQ(c.act(), DWORD(ERROR_SHARING_VIOLATION));
        EXPECT_EQ(bytesOf(c.held), kFirstBytes) << "the first program's file, byte for byte, under its name";
    }
}

TEST_F(SecondProcessTest, AWriterThatCrashedHoldsNothing) {
    for (const ActCase &c : kActs) {
        SCOPED_TRACE(c.name);
        writeFirstFile(c.held);
        LockHolder first(plat::nativePath(c.held), Open::Writing, Ending::AtOnce);
        ASSERT_TRUE(first.held());
        EXPECT_EQ(c.act(), DWORD(ERROR_SUCCESS));
        EXPECT_NE(bytesOf(c.held), kFirstBytes);
    }
}

// The program's own files stay its own: it replaces, sets aside and
// deletes what it writes itself as it always did.
TEST_F(SecondProcessTest, AFileThisProcessWritesStaysItsOwn) {
    for (const ActCase &c : kActs) {
        SCOPED_TRACE(c.name);
        writeFirstFile(c.held);
        const int fd = plat::createReplacingFile(plat::nativePath(c.held).c_str());
        ASSERT_GE(fd, 0);
        EXPECT_EQ(c.act(), DWORD(ERROR_SUCCESS));
        close(fd);
    }
}

// Who the restart manager says is using the file.
struct UserCase {
    const char *name;
    std::optional<Open> open;  // none: nobody has the file open
    Ending ending;
    bool listed;
};

// clang-format off
const UserCase kUsers[] = {
    {"AWriterIsListed",          Open::Writing, Ending::WhenLetGo, true},
    {"AReaderHoldsNothing",      Open::Reading, Ending::WhenLetGo, false},
    {"AWriterThatCrashedIsGone", Open::Writing, Ending::AtOnce,    false},
    {"NobodyIsListed",           std::nullopt,  Ending::WhenLetGo, false},
};
// clang-format on

TEST_F(SecondProcessTest, TheRestartManagerNamesTheWriter) {
    for (const UserCase &c : kUsers) {
        SCOPED_TRACE(c.name);
        writeFirstFile(kNight);
        std::unique_ptr<LockHolder> first;
        if (c.open) first = std::make_unique<LockHolder>(plat::nativePath(kNight), *c.open, c.ending);
        const std::u16string name = u"C:\\night.avi";
        LPCWSTR files[] = {name.c_str()};
        DWORD session = 0;
        WCHAR key[CCH_RM_SESSION_KEY + 1];
        ASSERT_EQ(RmStartSession(&session, 0, key), DWORD(ERROR_SUCCESS));
        ASSERT_EQ(RmRegisterResources(session, 1, files, 0, nullptr, 0, nullptr), DWORD(ERROR_SUCCESS));
        RM_PROCESS_INFO users[2];
        UINT needed = 99, count = 2;
        DWORD reasons = 99;
        ASSERT_EQ(RmGetList(session, &needed, &count, users, &reasons), DWORD(ERROR_SUCCESS));
        EXPECT_EQ(RmEndSession(session), DWORD(ERROR_SUCCESS));
        EXPECT_EQ(RmGetList(session, &needed, &count, users, &reasons), DWORD(6)) << "an ended session is gone";
        ASSERT_EQ(count, c.listed ? 1u : 0u);
        EXPECT_EQ(needed, count);
        EXPECT_EQ(reasons, 0u);
        if (!c.listed) continue;
        char app[CCH_RM_MAX_APP_NAME + 1];
        ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, users[0].strAppName, -1, app, sizeof app, nullptr, nullptr), 0);
        EXPECT_EQ(std::string(app) + " (process " + std::to_string(users[0].Process.dwProcessId) + ")", first->named());
    }
}

// A second Noctil on the root: told of the first by its process id, from
// the lock file or, before the first has written it there, from whoever has
// the file open.
struct InstanceCase {
    const char *name;
    std::optional<Ending> first;  // none: no other Noctil ever ran
    bool idInFile;
    bool told;
};

// clang-format off
const InstanceCase kInstances[] = {
    {"TheFirstIsNamedByTheIdItWrote",   Ending::WhenLetGo, true,  true},
    {"TheFirstIsNamedBeforeItWroteIt",  Ending::WhenLetGo, false, true},
    {"AFirstThatCrashedKeepsNobodyOut", Ending::AtOnce,    true,  false},
    {"AloneNothingIsSaid",              std::nullopt,      false, false},
};
// clang-format on

TEST_F(SecondProcessTest, ASecondNoctilIsToldOfTheFirst) {
    for (const InstanceCase &c : kInstances) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path file = plat::instanceLockFile(root());
        std::filesystem::remove(file);
        std::unique_ptr<LockHolder> first;
        if (c.first) first = std::make_unique<LockHolder>(file, Open::Reading, *c.first);
        if (c.idInFile) std::ofstream(file) << (first ? std::abs(first->pid()) : 0) << "\n";
        {
            const std::unique_ptr<plat::InstanceLock> lock = plat::takeInstanceLock(session());
            const std::optional<plat::Notice> notice = session().component<plat::Notices>().take();
            ASSERT_EQ(notice.has_value(), c.told);
            EXPECT_FALSE(session().component<plat::Notices>().take()) << "told once";
            if (c.told) {
                EXPECT_EQ(notice->text, plat::otherInstanceText(first->named()));
                EXPECT_EQ(notice->caption, "Another Noctil");
                EXPECT_EQ(notice->type, UINT(MB_OK | MB_ICONINFORMATION));
                EXPECT_NE(notice->text.find("process " + std::to_string(first->pid())), std::string::npos);
            } else {
                std::ifstream in(file);
                long id = 0;
                in >> id;
                EXPECT_EQ(id, long(getpid())) << "the lock file names its holder now";
            }
        }
    }
}

TEST_F(SecondProcessTest, TheBoxOfASecondNoctilSaysWhatItCannotDo) {
    EXPECT_EQ(plat::otherInstanceText("noctil (process 1234)"),
              "Noctil is running already on these drives and settings: noctil (process 1234).\nThis one can set up "
              "and show images, but it cannot record into a file the other is writing or drive a camera port the "
              "other drives.");
}

// The platform's code page is UTF-8; Windows names travel as UTF-16.
struct TextCase {
    const char *name;
    const char *text;
    std::u16string wide;  // empty: not valid text
};

// clang-format off
const TextCase kTexts[] = {
    {"Plain",          "C:\\night.avi",         u"C:\\night.avi"},
    {"TwoBytes",       "C:\\\xC3\x85ngstr\xC3\xB6m.avi", u"C:\\\u00C5ngstr\u00F6m.avi"},
    {"ThreeBytes",     "C:\\\xE6\x98\x9F.avi",  u"C:\\\u661F.avi"},
    {"FourBytesAPair", "\xF0\x9D\x84\x9E",      u"\U0001D11E"},
    {"CutShort",       "night\xC3",             u""},
    {"Overlong",       "\xC0\xAF",              u""},
};
// clang-format on

TEST_F(SecondProcessTest, NamesGoBetweenTheCodePageAndUtf16) {
    for (const TextCase &c : kTexts) {
        SCOPED_TRACE(c.name);
        WCHAR wide[64];
        const int units = MultiByteToWideChar(CP_ACP, 0, c.text, -1, wide, 64);
        if (c.wide.empty()) {
            EXPECT_EQ(units, 0);
            EXPECT_EQ(GetLastError(), 1113u);
            continue;
        }
        ASSERT_EQ(units, int(c.wide.size()) + 1) << "the terminator too";
        EXPECT_EQ(std::u16string(wide), c.wide);
        EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, c.text, -1, nullptr, 0), units) << "the room it needs";
        char back[64];
        ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, back, 64, nullptr, nullptr), int(std::strlen(c.text)) + 1);
        EXPECT_STREQ(back, c.text);
        EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, back, 2, nullptr, nullptr), 0) << "too little room";
    }
}

}  // namespace
}  // namespace noctil::test
