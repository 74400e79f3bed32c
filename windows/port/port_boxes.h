// The port's boxes, titled "Error" as every failure the person hears of. A
// failure found inside a write (the program writes from its timer handlers
// and its frame callback) is shown by the program's message loop, through a
// message-only window of the port's own: a box opened inside the write
// would run its own loop within the exposure cycle, and a Stop chosen
// meanwhile would be undone when the handler went on. Before the program
// runs there is no loop yet and no cycle to hold up: a failure of the
// start's own write is shown at once.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>

namespace winport {

class PortBoxes {
public:
    using Show = std::function<void(const std::string &text)>;
    explicit PortBoxes(Show show = showErrorBox) : show_(std::move(show)) {}
    ~PortBoxes();
    PortBoxes(const PortBoxes &) = delete;
    PortBoxes &operator=(const PortBoxes &) = delete;

    // Hands the text to a debugger at once (and to the tests, through
    // Wine's log), and shows it: at once before programRuns(), else from
    // the message loop of this thread.
    void tell(const std::string &text);
    // From now on writes come from the program's handlers.
    void programRuns() { programRuns_ = true; }

    static void showErrorBox(const std::string &text);

private:
    HWND window();
    void showPending();
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    Show show_;
    std::deque<std::string> pending_;
    HWND window_ = nullptr;
    bool programRuns_ = false;
};

}  // namespace winport
