#include "dialog_harness.h"

#include "resources/resources.h"

namespace noctil::test {

DialogTest *DialogTest::current = nullptr;

DialogTest::DialogTest() {
    current = this;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ownerProc;
    wc.lpszClassName = "DialogTestOwner";
    RegisterClassExA(&wc);
    owner_ = CreateWindowExA(0, "DialogTestOwner", "Owner", WS_OVERLAPPEDWINDOW, 100, 50, 640, 480, nullptr, nullptr,
                             plat::res::moduleInstance(), nullptr);
    ShowWindow(owner_, SW_SHOWNORMAL);
}

DialogTest::~DialogTest() { current = nullptr; }

LRESULT CALLBACK DialogTest::ownerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (current) current->ownerLog_.push_back({message, wParam, lParam});
    return DefWindowProcA(window, message, wParam, lParam);
}

INT_PTR CALLBACK DialogTest::dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!current) return FALSE;
    current->dialogLog_.push_back({message, wParam, lParam});
    switch (message) {
    case WM_INITDIALOG:
        if (current->onInit) current->onInit(dialog);
        return current->initResult;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
        case 1008:  // the Setup dialog's Start Capture
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        default: return FALSE;
        }
    default: return FALSE;
    }
}

std::vector<Recorded> DialogTest::ownerMessages(UINT message) const {
    std::vector<Recorded> out;
    for (const Recorded &r : ownerLog_)
        if (r.message == message) out.push_back(r);
    return out;
}

std::vector<Recorded> DialogTest::dialogMessages(UINT message) const {
    std::vector<Recorded> out;
    for (const Recorded &r : dialogLog_)
        if (r.message == message) out.push_back(r);
    return out;
}

std::vector<int> DialogTest::dialogCommands() const {
    std::vector<int> out;
    for (const Recorded &r : dialogMessages(WM_COMMAND)) out.push_back(LOWORD(r.wParam));
    return out;
}

INT_PTR DialogTest::runDialog(int templateId, HWND ownerWindow) {
    INT_PTR result = -2;
    guard([&] {
        result =
            DialogBoxParamA(plat::res::moduleInstance(), MAKEINTRESOURCEA(templateId), ownerWindow, dialogProc, 0x1234);
    });
    return result;
}

}  // namespace noctil::test
