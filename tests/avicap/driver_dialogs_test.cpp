// The simulated camera's own Video Format and Video Source dialogs, answered
// by a scripted person while the capture window waits in them.
#include "avicap/driver_dialogs.h"
#include "capture_fixture.h"
#include "user/dialog_system.h"
#include "user/window_system.h"

namespace {

using plat::avicap::kFieldEditFirst;
using plat::avicap::kFormatButtonFirst;
using plat::avicap::kFormatChosenText;

class DriverDialogTest : public CaptureTest {
protected:
    void SetUp() override {
        CaptureTest::SetUp();
        window_ = makeCaptureWindow();
        ASSERT_TRUE(SendMessageA(window_, WM_CAP_DRIVER_CONNECT, 0, 0));
    }

    // At `ms` of virtual time, does `action` to the dialog open then.
    void at(int ms, std::function<void(HWND)> action) {
        user().at(static_cast<std::uint32_t>(ms), [action] {
            const std::vector<HWND> open = plat::user::openDialogs();
            ASSERT_FALSE(open.empty()) << "no dialog is open";
            action(open.back());
        });
    }
    static void click(HWND dialog, int id) {
        HWND control = plat::user::childById(dialog, id);
        ASSERT_NE(control, nullptr) << "control " << id;
        plat::user::clickControl(control);
    }
    static std::string text(HWND dialog, int id) {
        char buffer[100] = "";
        GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
        return buffer;
    }

    HWND window_ = nullptr;
};

TEST_F(DriverDialogTest, FormatDialogSwitchesFormatOnlyOnOk) {
    struct Case {
        int button;     // format button clicked, -1 for none
        int closeWith;  // IDOK or IDCANCEL
        LRESULT result;
        UINT width, height;
    };
    // The formats in order: 640x480 RGB, 640x480 YUY2, 320x240 RGB, 320x240 YUY2.
    const Case cases[] = {{2, IDCANCEL, FALSE, 640, 480},
                          {2, IDOK, TRUE, 320, 240},
                          {-1, IDOK, TRUE, 320, 240},
                          {1, IDOK, TRUE, 640, 480}};
    int t = 10;
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "button " << c.button << ", close " << c.closeWith);
        std::string shown;
        if (c.button >= 0) at(t, [&](HWND d) { click(d, kFormatButtonFirst + c.button); });
        at(t + 10, [&](HWND d) {
            shown = text(d, kFormatChosenText);
            click(d, c.closeWith);
        });
        t += 100;
        EXPECT_EQ(SendMessageA(window_, WM_CAP_DLG_VIDEOFORMAT, 0, 0), c.result);
        const CAPSTATUS s = status(window_);
        EXPECT_EQ(s.uiImageWidth, c.width);
        EXPECT_EQ(s.uiImageHeight, c.height);
        const char *expected[] = {"", "Format: 640 x 480, YUY2", "Format: 320 x 240, 24-bit RGB"};
        if (c.button > 0) {
            EXPECT_EQ(shown, expected[c.button]);
        }
        EXPECT_TRUE(plat::user::openDialogs().empty());
    }
}

TEST_F(DriverDialogTest, SourceDialogShowsAndTakesTheCameraSettings) {
    std::string gainShown;
    at(10, [&](HWND d) {
        gainShown = text(d, kFieldEditFirst);
        SetDlgItemTextA(d, kFieldEditFirst, "400");
        click(d, IDOK);
    });
    EXPECT_EQ(SendMessageA(window_, WM_CAP_DLG_VIDEOSOURCE, 0, 0), TRUE);
    EXPECT_EQ(gainShown, "100");

    // The gain now shown is the one taken, and Cancel keeps it.
    at(200, [&](HWND d) {
        gainShown = text(d, kFieldEditFirst);
        SetDlgItemTextA(d, kFieldEditFirst, "50");
        click(d, IDCANCEL);
    });
    EXPECT_EQ(SendMessageA(window_, WM_CAP_DLG_VIDEOSOURCE, 0, 0), FALSE);
    EXPECT_EQ(gainShown, "400");

    // Out of range is held to the range.
    at(400, [&](HWND d) {
        SetDlgItemTextA(d, kFieldEditFirst, "99999");
        click(d, IDOK);
    });
    SendMessageA(window_, WM_CAP_DLG_VIDEOSOURCE, 0, 0);
    at(600, [&](HWND d) {
        gainShown = text(d, kFieldEditFirst);
        click(d, IDCANCEL);
    });
    SendMessageA(window_, WM_CAP_DLG_VIDEOSOURCE, 0, 0);
    EXPECT_EQ(gainShown, "1600");
}

}  // namespace
