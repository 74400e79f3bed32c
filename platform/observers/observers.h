// The layer on top of the AVI library, the capture window, the port and the
// image log: it has the image log follow the AVI library's announcements, and
// tells the status line (display/status_line_feed.h) what the port, the AVI
// library, the capture window and the image log announce, so that none of
// them knows the other. The program's session is made with it attached
// (observers/program_session.h).
#pragma once

namespace plat {
class Session;
}

namespace plat::observers {

void attach(Session &session);

}  // namespace plat::observers
