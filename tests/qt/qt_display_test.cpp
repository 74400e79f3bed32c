// What a person does in the Qt windows reaches the window system as the
// messages a program expects, and what the model holds shows in the widgets:
// menu bar, check marks and grayed items, close box, accelerators, toolbar,
// dialog controls, painting.
#include <windows.h>
#include <commctrl.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QToolButton>
#include <QValidator>

#include <cstring>

#include "qt_fixture.h"
#include "user/dialog_system.h"
#include "user/window_system.h"

namespace noctil::test {
namespace {

constexpr UINT kFirst = 201, kSecond = 202;

struct Message {
    UINT message;
    WPARAM wParam;
    bool operator==(const Message &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Message &m) {
    return out << "{0x" << std::hex << m.message << ", 0x" << m.wParam << std::dec << "}";
}

class QtWindowsTest : public QtDisplayTest {
public:
    QtWindowsTest() {
        plat::user::registerClass("QtProbe", [this](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
            if (m == WM_INITMENU || m == WM_COMMAND || m == WM_CLOSE || m == WM_SYSCOMMAND)
                seen.push_back({m, m == WM_INITMENU ? 0 : wp});
            if (onMessage) onMessage(w, m, wp, lp);
            if (m == WM_DESTROY) PostQuitMessage(0);
            return DefWindowProcA(w, m, wp, lp);
        });
    }

    HWND makeWindow(DWORD style = WS_OVERLAPPEDWINDOW, bool withMenu = true) {
        HMENU bar = nullptr;
        if (withMenu) {
            bar = CreateMenu();
            popup = CreatePopupMenu();
            AppendMenuA(popup, MF_STRING, kFirst, "&First");
            AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(popup, MF_STRING, kSecond, "&Second");
            AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), "&File");
        }
        HWND w = CreateWindowExA(0, "QtProbe", "Probe", style, 10, 20, 300, 200, nullptr, bar, nullptr, nullptr);
        ShowWindow(w, SW_SHOWNORMAL);
        return w;
    }

    // The program's kind of loop: accelerators first, then dispatch.
    int loop() {
        int code = -1;
        guard([&] {
            MSG msg;
            while (GetMessageA(&msg, nullptr, 0, 0)) {
                if (accelerators && TranslateAcceleratorA(msg.hwnd, accelerators, &msg)) continue;
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            code = static_cast<int>(msg.wParam);
        });
        return code;
    }

    QMenu *fileMenu(HWND window) {
        qt().sync();
        QMenuBar *bar = qt().menuBarOf(window);
        if (!bar || bar->actions().isEmpty()) return nullptr;
        return bar->actions().front()->menu();
    }

    static QAction *itemOf(QMenu *menu, const char *text) {
        for (QAction *action : menu->actions())
            if (action->text() == QLatin1String(text)) return action;
        return nullptr;
    }

    static void sendKey(QWidget *widget, int key, Qt::KeyboardModifiers modifiers, const QString &text) {
        QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(widget, &press);
    }

    std::vector<Message> seen;
    std::function<void(HWND, UINT, WPARAM, LPARAM)> onMessage;
    HMENU popup = nullptr;
    HACCEL accelerators = nullptr;
};

TEST_F(QtWindowsTest, MenuBarShowsTheModelsMenu) {
    HWND w = makeWindow();
    EnableMenuItem(popup, kSecond, MF_GRAYED);
    CheckMenuItem(popup, kFirst, MF_CHECKED);
    QMenu *file = fileMenu(w);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->title(), "&File");
    const QList<QAction *> items = file->actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0]->text(), "&First");
    EXPECT_TRUE(items[0]->isChecked());
    EXPECT_TRUE(items[0]->isEnabled());
    EXPECT_TRUE(items[1]->isSeparator());
    EXPECT_EQ(items[2]->text(), "&Second");
    EXPECT_FALSE(items[2]->isEnabled());
    EXPECT_FALSE(items[2]->isChecked());

    // Items appended at run time show once the model says the menu changed.
    AppendMenuA(popup, MF_STRING, 300, "&0 Simulated camera");
    DrawMenuBar(w);
    file = fileMenu(w);
    ASSERT_EQ(file->actions().size(), 4);
    EXPECT_EQ(file->actions()[3]->text(), "&0 Simulated camera");
}

TEST_F(QtWindowsTest, OpeningAMenuRefreshesItAfterInitMenu) {
    HWND w = makeWindow();
    // The program sets its check marks and grays items when the menu opens.
    onMessage = [&](HWND, UINT m, WPARAM, LPARAM) {
        if (m != WM_INITMENU) return;
        CheckMenuItem(popup, kFirst, MF_CHECKED);
        EnableMenuItem(popup, kSecond, MF_GRAYED);
    };
    bool checkedWhenShown = false, grayedWhenShown = false;
    user().at(10, [&] {
        QMenu *file = fileMenu(w);
        ASSERT_NE(file, nullptr);
        ASSERT_FALSE(itemOf(file, "&First")->isChecked());
        file->popup(QPoint(0, 0));
        checkedWhenShown = itemOf(file, "&First")->isChecked();
        grayedWhenShown = !itemOf(file, "&Second")->isEnabled();
        file->hide();
    });
    user().at(20, [&] { PostQuitMessage(0); });
    EXPECT_EQ(loop(), 0);
    EXPECT_TRUE(checkedWhenShown);
    EXPECT_TRUE(grayedWhenShown);
    EXPECT_EQ(seen, (std::vector<Message>{{WM_INITMENU, 0}}));
}

// Each way a person gives a command, and the messages the window gets.
TEST_F(QtWindowsTest, ActionsBecomeTheMessagesAProgramExpects) {
    struct Case {
        const char *name;
        std::function<void(QtWindowsTest &, HWND)> act;
        std::vector<Message> expected;
    };
    const Case cases[] = {
        {"a menu click: opening, then the item's command with high word 0",
         [](QtWindowsTest &t, HWND w) {
             QMenu *file = t.fileMenu(w);
             file->popup(QPoint(0, 0));
             itemOf(file, "&Second")->trigger();
             file->hide();
         },
         {{WM_INITMENU, 0}, {WM_INITMENU, 0}, {WM_COMMAND, MAKEWPARAM(kSecond, 0)}}},
        {"a grayed item chooses nothing",
         [](QtWindowsTest &t, HWND w) {
             EnableMenuItem(t.popup, kSecond, MF_GRAYED);
             QMenu *file = t.fileMenu(w);
             file->popup(QPoint(0, 0));
             itemOf(file, "&Second")->trigger();
             file->hide();
         },
         {{WM_INITMENU, 0}}},
        {"an accelerator: high word 1, after the menu it belongs to is opened",
         [](QtWindowsTest &t, HWND w) {
             sendKey(t.widgetOf(w), Qt::Key_Question, Qt::AltModifier | Qt::ShiftModifier, "?");
         },
         {{WM_INITMENU, 0}, {WM_COMMAND, MAKEWPARAM(kFirst, 1)}}},
        {"the same key without Alt is no accelerator",
         [](QtWindowsTest &t, HWND w) { sendKey(t.widgetOf(w), Qt::Key_Question, Qt::ShiftModifier, "?"); },
         {}},
        {"the close box",
         [](QtWindowsTest &t, HWND w) { t.widgetOf(w)->close(); },
         {{WM_SYSCOMMAND, SC_CLOSE}, {WM_CLOSE, 0}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        seen.clear();
        ACCEL table[] = {{FALT, '?', static_cast<WORD>(kFirst)}};
        accelerators = CreateAcceleratorTableA(table, 1);
        HWND w = makeWindow();
        user().after(10, [&] { c.act(*this, w); });
        user().after(20, [&] {
            if (IsWindow(w)) DestroyWindow(w);
        });
        EXPECT_EQ(loop(), 0);
        EXPECT_EQ(seen, c.expected);
        DestroyAcceleratorTable(accelerators);
        accelerators = nullptr;
    }
}

TEST_F(QtWindowsTest, ACaptionWithoutSystemMenuHasNoCloseBox) {
    HWND w = makeWindow(WS_CAPTION | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CLIPCHILDREN, false);
    QWidget *frame = widgetOf(w);
    ASSERT_NE(frame, nullptr);
    EXPECT_FALSE(frame->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(frame->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(frame->windowFlags() & Qt::WindowSystemMenuHint);
    HWND normal = makeWindow();
    EXPECT_TRUE(widgetOf(normal)->windowFlags() & Qt::WindowCloseButtonHint);

    user().at(10, [&] { frame->close(); });
    user().at(20, [&] { PostQuitMessage(0); });
    loop();
    EXPECT_TRUE(IsWindow(w));
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(frame->isVisible());
}

TEST_F(QtWindowsTest, WindowsFollowTheModel) {
    HWND w = makeWindow(WS_OVERLAPPEDWINDOW, false);
    QWidget *frame = widgetOf(w);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->windowTitle(), "Probe");
    EXPECT_TRUE(frame->isVisible());
    // Above the client area: the display's own title bar where no window
    // manager draws one.
    QWidget *titleBar = frame->findChild<QWidget *>("noctilTitleBar");
    const int above = titleBar ? titleBar->height() : 0;
    EXPECT_EQ(titleBar != nullptr, qt().drawsTitleBars());
    RECT client{};
    GetClientRect(w, &client);
    EXPECT_EQ(frame->size(), QSize(client.right, client.bottom + above));

    SetWindowTextA(w, "C:\\Images.AVI - 3/10");
    MoveWindow(w, 40, 50, 660, 520, TRUE);
    GetClientRect(w, &client);
    widgetOf(w);
    EXPECT_EQ(frame->windowTitle(), "C:\\Images.AVI - 3/10");
    EXPECT_EQ(frame->size(), QSize(client.right, client.bottom + above));
    EXPECT_EQ(frame->pos(), QPoint(40, 50));

    ShowWindow(w, SW_HIDE);
    widgetOf(w);
    EXPECT_FALSE(frame->isVisible());
    DestroyWindow(w);
    EXPECT_EQ(widgetOf(w), nullptr);
}

// Paints a DIB at (xDest, yDest) of its client area whenever asked.
TEST_F(QtWindowsTest, PaintingShowsInTheClientArea) {
    std::vector<std::uint8_t> packed(sizeof(BITMAPINFOHEADER) + 4 * 2 * 2);
    auto *h = reinterpret_cast<BITMAPINFOHEADER *>(packed.data());
    h->biSize = sizeof *h;
    h->biWidth = 2;
    h->biHeight = 2;
    h->biPlanes = 1;
    h->biBitCount = 32;
    for (std::size_t i = 0; i < 4; ++i) packed[sizeof *h + 4 * i + 2] = 255;  // red
    onMessage = [&](HWND w, UINT m, WPARAM, LPARAM) {
        if (m != WM_PAINT) return;
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(w, &ps);
        SetDIBitsToDevice(dc, 5, 6, 2, 2, 0, 0, 0, 2, packed.data() + sizeof *h,
                          reinterpret_cast<BITMAPINFO *>(packed.data()), DIB_RGB_COLORS);
        EndPaint(w, &ps);
    };
    HWND w = makeWindow(WS_OVERLAPPEDWINDOW, false);
    UpdateWindow(w);
    QImage shot = grab(w);
    ASSERT_FALSE(shot.isNull());
    // The client area starts below the display's own title bar, if any.
    const QWidget *titleBar = widgetOf(w)->findChild<QWidget *>("noctilTitleBar");
    const int top = titleBar ? titleBar->height() : 0;
    EXPECT_EQ(shot.pixel(5, top + 6), qRgb(255, 0, 0));
    EXPECT_EQ(shot.pixel(6, top + 7), qRgb(255, 0, 0));
    EXPECT_EQ(shot.pixel(4, top + 6), qRgb(255, 255, 255));
    EXPECT_EQ(shot.pixel(7, top + 8), qRgb(255, 255, 255));
}

TEST_F(QtWindowsTest, ToolbarButtonsShowTheirStateAndSendTheirCommands) {
    HWND w = makeWindow(WS_OVERLAPPEDWINDOW, false);
    INITCOMMONCONTROLSEX init{sizeof init, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&init);
    HWND bar = CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr, WS_CHILD | TBSTYLE_TOOLTIPS, 0, 0, 0, 0, w,
                               reinterpret_cast<HMENU>(130), nullptr, nullptr);
    ASSERT_NE(bar, nullptr);
    SendMessageA(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    const char *names[] = {"Record\0", "Stop\0"};
    int strings[2];
    for (int i = 0; i < 2; ++i)
        strings[i] = static_cast<int>(SendMessageA(bar, TB_ADDSTRINGA, 0, reinterpret_cast<LPARAM>(names[i])));
    TBBUTTON buttons[2]{};
    buttons[0] = {0, 501, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, strings[0]};
    buttons[1] = {1, 502, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, strings[1]};
    SendMessageA(bar, TB_ADDBUTTONSA, 2, reinterpret_cast<LPARAM>(buttons));
    SendMessageA(bar, TB_AUTOSIZE, 0, 0);
    ShowWindow(bar, SW_SHOW);
    SendMessageA(bar, TB_ENABLEBUTTON, 502, FALSE);

    QWidget *toolbar = widgetOf(bar);
    ASSERT_NE(toolbar, nullptr);
    const auto shown = toolbar->findChildren<QToolButton *>();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[0]->toolTip(), "Record");
    EXPECT_EQ(shown[1]->toolTip(), "Stop");
    EXPECT_TRUE(shown[0]->text().isEmpty() || shown[0]->toolButtonStyle() == Qt::ToolButtonIconOnly);
    EXPECT_TRUE(shown[0]->isEnabled());
    EXPECT_FALSE(shown[1]->isEnabled());

    // A state set without any notification shows too: the pressed look.
    SendMessageA(bar, TB_CHECKBUTTON, 501, TRUE);
    widgetOf(bar);
    EXPECT_TRUE(shown[0]->isChecked());

    user().at(10, [&] {
        shown[0]->click();
        shown[1]->click();  // disabled: Qt ignores it
    });
    user().at(20, [&] { PostQuitMessage(0); });
    loop();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(LOWORD(seen[0].wParam), 501);
}

// A dialog's controls, and the ways a person ends it.
class QtDialogTest : public QtWindowsTest {
public:
    static plat::res::DialogTemplate sample() {
        plat::res::DialogTemplate t;
        t.title = "Setup";
        t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
        t.fontName = "MS Sans Serif";
        t.pointSize = 8;
        t.cx = 200;
        t.cy = 80;
        constexpr DWORD child = WS_CHILD | WS_VISIBLE;
        t.controls = {
            {"EDIT", "", -1, 10, child | WS_BORDER | WS_TABSTOP | ES_NUMBER, 0, 60, 7, 40, 14},
            {"EDIT", "", -1, 11, child | WS_BORDER | WS_TABSTOP | ES_READONLY, 0, 60, 25, 90, 14},
            {"BUTTON", "Amplifier off", -1, 12, child | WS_TABSTOP | BS_AUTOCHECKBOX, 0, 110, 9, 80, 10},
            {"STATIC", "&Exposure", -1, -1, child | SS_LEFT, 0, 7, 9, 50, 8},
            {"BUTTON", "OK", -1, IDOK, child | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 140, 60, 50, 14},
            {"BUTTON", "Cancel", -1, IDCANCEL, child | WS_TABSTOP, 0, 85, 60, 50, 14},
        };
        return t;
    }

    INT_PTR run(HWND owner, std::function<void(HWND)> person) {
        INT_PTR result = -2;
        user().after(10, [&] {
            auto open = plat::user::openDialogs();
            ASSERT_FALSE(open.empty());
            person(open.back());
        });
        guard([&] {
            result = plat::user::runModalDialog(
                sample(), nullptr, owner,
                [](HWND d, UINT m, WPARAM wp, LPARAM) -> INT_PTR {
                    if (m == WM_INITDIALOG) {
                        SetDlgItemTextA(d, 10, "2000");
                        SetDlgItemTextA(d, 11, "C:\\Images.AVI");
                        return TRUE;
                    }
                    if (m == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
                        EndDialog(d, LOWORD(wp));
                        return TRUE;
                    }
                    return FALSE;
                },
                0);
        });
        return result;
    }

    template <class W>
    W *control(HWND dialog, int id) {
        return qobject_cast<W *>(widgetOf(GetDlgItem(dialog, id)));
    }
};

TEST_F(QtDialogTest, ControlsShowTheirKindAndState) {
    HWND owner = makeWindow(WS_OVERLAPPEDWINDOW, false);
    bool ownerDisabled = false;
    run(owner, [&](HWND d) {
        auto *number = control<QLineEdit>(d, 10);
        auto *name = control<QLineEdit>(d, 11);
        auto *box = control<QCheckBox>(d, 12);
        auto *ok = control<QPushButton>(d, IDOK);
        ASSERT_TRUE(number && name && box && ok);
        EXPECT_EQ(widgetOf(d)->windowTitle(), "Setup");
        EXPECT_EQ(number->text(), "2000");
        EXPECT_EQ(name->text(), "C:\\Images.AVI");
        EXPECT_TRUE(name->isReadOnly());
        EXPECT_FALSE(number->isReadOnly());
        ASSERT_NE(number->validator(), nullptr);
        QString typed = "12a";
        int at = 0;
        EXPECT_EQ(number->validator()->validate(typed, at), QValidator::Invalid);
        EXPECT_TRUE(ok->isDefault());
        EXPECT_FALSE(control<QPushButton>(d, IDCANCEL)->isDefault());
        // Placed from the template in dialog units, as the model laid it out.
        RECT r{};
        GetWindowRect(GetDlgItem(d, 10), &r);
        EXPECT_EQ(number->width(), r.right - r.left);
        ownerDisabled = !widgetOf(owner)->isEnabled();
        PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_TRUE(ownerDisabled);
    widgetOf(owner);
    EXPECT_TRUE(widgetOf(owner)->isEnabled());
}

TEST_F(QtDialogTest, TypingAndClickingChangeTheControls) {
    HWND owner = makeWindow(WS_OVERLAPPEDWINDOW, false);
    char text[32] = "";
    UINT checked = 0;
    INT_PTR result = run(owner, [&](HWND d) {
        auto *number = control<QLineEdit>(d, 10);
        number->setFocus();
        number->end(false);
        sendKey(number, Qt::Key_5, Qt::NoModifier, "5");
        sendKey(number, Qt::Key_X, Qt::NoModifier, "x");  // refused: digits only
        control<QCheckBox>(d, 12)->click();
        user().after(10, [&, d] {
            GetDlgItemTextA(d, 10, text, sizeof text);
            checked = IsDlgButtonChecked(d, 12);
            sendKey(widgetOf(d), Qt::Key_Return, Qt::NoModifier, "\r");
        });
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_STREQ(text, "20005");
    EXPECT_EQ(checked, static_cast<UINT>(BST_CHECKED));
}

TEST_F(QtDialogTest, EachWayOfEndingADialog) {
    const struct {
        const char *name;
        std::function<void(QtDialogTest &, HWND)> person;
        INT_PTR result;
    } cases[] = {
        {"Enter", [](QtDialogTest &t, HWND d) { sendKey(t.widgetOf(d), Qt::Key_Return, {}, "\r"); }, IDOK},
        {"Escape", [](QtDialogTest &t, HWND d) { sendKey(t.widgetOf(d), Qt::Key_Escape, {}, "\x1b"); }, IDCANCEL},
        {"the close box", [](QtDialogTest &t, HWND d) { t.widgetOf(d)->close(); }, IDCANCEL},
        {"OK", [](QtDialogTest &t, HWND d) { t.control<QPushButton>(d, IDOK)->click(); }, IDOK},
        {"Cancel", [](QtDialogTest &t, HWND d) { t.control<QPushButton>(d, IDCANCEL)->click(); }, IDCANCEL},
    };
    HWND owner = makeWindow(WS_OVERLAPPEDWINDOW, false);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(run(owner, [&](HWND d) { c.person(*this, d); }), c.result);
    }
}

TEST_F(QtWindowsTest, TheBeepReachesTheDisplay) {
    EXPECT_EQ(qt().beeps(), 0u);
    MessageBeep(0);
    MessageBeep(MB_ICONASTERISK);
    EXPECT_EQ(qt().beeps(), 2u);
}

}  // namespace
}  // namespace noctil::test
