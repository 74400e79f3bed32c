// Notices posted by the layers below the window system, shown from the
// message loop once whatever posted them has returned.
#include <windows.h>

#include "core/notices.h"
#include "core/session.h"

namespace plat {

void showPostedNotices() {
    Notices *notices = session().findComponent<Notices>();
    if (!notices) return;
    // Taken before it is shown: the box's own loop shows the next one.
    while (std::optional<Notice> n = notices->take())
        MessageBoxA(nullptr, n->text.c_str(), n->caption.c_str(), n->type);
}

}  // namespace plat
