#include "port_boxes.h"

namespace winport {

namespace {

constexpr UINT kShowBoxes = WM_APP;
constexpr const char *kClassName = "NoctilPortBoxes";

}  // namespace

PortBoxes::~PortBoxes() {
    if (window_ != nullptr) DestroyWindow(window_);
}

void PortBoxes::showErrorBox(const std::string &text) {
    MessageBoxA(nullptr, text.c_str(), "Error", MB_OK | MB_ICONSTOP);
}

void PortBoxes::tell(const std::string &text) {
    // A paragraph at a time: debuggers cut long strings short.
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find("\n\n", at);
        if (end == std::string::npos) end = text.size();
        OutputDebugStringA(("noctil: " + text.substr(at, end - at) + "\n").c_str());
        at = end + 2;
    }
    if (!programRuns_ || window() == nullptr) return show_(text);
    pending_.push_back(text);
    PostMessageA(window_, kShowBoxes, 0, 0);
}

void PortBoxes::showPending() {
    // One at a time off the queue: a box's own loop may show the next.
    while (!pending_.empty()) {
        const std::string text = std::move(pending_.front());
        pending_.pop_front();
        show_(text);
    }
}

// Made at the first box it carries; without it the box is shown at once.
HWND PortBoxes::window() {
    if (window_ != nullptr) return window_;
    WNDCLASSA wc{};
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    RegisterClassA(&wc);  // registered already by another instance: fine
    window_ = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    if (window_ != nullptr) SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return window_;
}

LRESULT CALLBACK PortBoxes::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto *boxes = reinterpret_cast<PortBoxes *>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message != kShowBoxes || boxes == nullptr) return DefWindowProcA(window, message, wParam, lParam);
    boxes->showPending();
    return 0;
}

}  // namespace winport
