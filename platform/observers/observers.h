// The layer on top of the AVI library, the capture window, the port and the
// image log: it has the image log follow the AVI library's announcements, and
// tells the status line (display/status_line_feed.h) what the port, the AVI
// library, the capture window and the image log announce, so that none of
// them knows the other. The process start and the tests' support install it once;
// every session started afterwards has it.
#pragma once

namespace plat::observers {

void install();

}  // namespace plat::observers
