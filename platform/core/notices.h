// Words for the person from a layer below the window system at a moment it
// may show nothing: inside a port write, which the program makes from its
// timer handlers and its frame callback, where a message box's own loop
// would hold the cycle up and a Stop chosen meanwhile would be undone when
// the handler went on. The message loop shows them, each in a message box,
// before it hands out its next message.
#pragma once

#include <deque>
#include <optional>
#include <string>

namespace plat {

struct Notice {
    std::string text;
    std::string caption;
    unsigned type = 0;  // MB_* flags
};

// A session component.
class Notices {
public:
    void post(Notice notice) { pending_.push_back(std::move(notice)); }
    std::optional<Notice> take() {
        if (pending_.empty()) return std::nullopt;
        Notice n = std::move(pending_.front());
        pending_.pop_front();
        return n;
    }

private:
    std::deque<Notice> pending_;
};

// Shows every notice posted in the current session (the message loop calls it).
void showPostedNotices();

}  // namespace plat
