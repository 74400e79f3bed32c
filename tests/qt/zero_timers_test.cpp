// On the Qt display as on the headless one: with exposure and delay at 0
// the cycle's timers are due on every turn, and a person's Stop (a toolbar
// click) and closing the main window still reach the program.
#include <windows.h>
#include <camport.h>

#include <QToolButton>

#include <fstream>

#include "files/paths.h"
#include "port/parallel_port.h"
#include "qt_fixture.h"
#include "resource.h"
#include "resources/resources.h"

namespace noctil::test {
namespace {

constexpr std::uint8_t kExpose = PORT_EXPOSE;

struct ZeroCase {
    const char *name;
    bool stopFirst;  // Stop on the toolbar, then close; else close during the run
};

class QtZeroTimersTest : public QtDisplayTest, public ::testing::WithParamInterface<ZeroCase> {
public:
    QList<QToolButton *> toolbarButtons(HWND main) {
        QWidget *bar = widgetOf(GetDlgItem(main, IDC_TOOLBAR));
        return bar ? bar->findChildren<QToolButton *>() : QList<QToolButton *>();
    }
    static std::size_t exposures() {
        std::size_t n = 0;
        for (const plat::PortWrite &w : plat::session().component<plat::ParallelPort>().writes())
            n += w.value == kExpose;
        return n;
    }
};

TEST_P(QtZeroTimersTest, StopAndCloseReachTheProgram) {
    std::ofstream(plat::windowsDirectory() / "Noctil.ini", std::ios::binary)
        << "[Filenames]\r\nImageFile=C:\\zero.avi\r\n[Capture]\r\nExposure=0\r\nDelay=0\r\n";
    HWND main = nullptr;
    std::size_t beforeCommand = 0, atClose = 0;
    bool recordBack = false;
    user().at(500, [&] {
        main = FindWindowA("NoctilWndClass", nullptr);
        ASSERT_NE(main, nullptr);
        ASSERT_EQ(toolbarButtons(main).size(), 4);
        toolbarButtons(main)[0]->click();  // Record
    });
    QString titleDuringRun;
    bool recordGreyedDuringRun = false, stopOfferedDuringRun = false;
    user().at(1500, [&] {
        // What the person sees during the run: the image count in the
        // snapshot window's title, Record greyed and Stop offered.
        titleDuringRun = widgetOf(FindWindowA("NoctilSnapshotClass", nullptr))->windowTitle();
        recordGreyedDuringRun = !toolbarButtons(main)[0]->isEnabled();
        stopOfferedDuringRun = toolbarButtons(main)[1]->isEnabled();
        beforeCommand = exposures();
        if (GetParam().stopFirst)
            toolbarButtons(main)[1]->click();  // Stop
        else
            widgetOf(main)->close();
    });
    if (GetParam().stopFirst)
        user().at(2500, [&] {
            atClose = exposures();
            recordBack = toolbarButtons(main)[0]->isEnabled();
            widgetOf(main)->close();
        });
    int code = -1;
    static char commandLine[] = "";
    ASSERT_TRUE(guard([&] { code = WinMain(plat::res::moduleInstance(), nullptr, commandLine, SW_SHOWNORMAL); }));
    EXPECT_EQ(code, 0);
    EXPECT_GE(beforeCommand, 3u) << "the cycle ran at full speed before the command";
    EXPECT_TRUE(titleDuringRun.startsWith("C:\\zero.avi - ")) << titleDuringRun.toStdString();
    EXPECT_GE(titleDuringRun.section(" - ", 1).toInt(), 3) << titleDuringRun.toStdString();
    EXPECT_TRUE(recordGreyedDuringRun) << "the toolbar shows the run";
    EXPECT_TRUE(stopOfferedDuringRun) << "the toolbar shows the run";
    if (GetParam().stopFirst) {
        EXPECT_TRUE(recordBack) << "Record is offered again after Stop";
        EXPECT_LE(atClose, beforeCommand + 1) << "no exposure after Stop";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, QtZeroTimersTest,
                         ::testing::Values(ZeroCase{"StopThenClose", true}, ZeroCase{"CloseDuringTheRun", false}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace noctil::test
