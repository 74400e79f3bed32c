// The layer on top of the AVI library, the capture window and the port: it
// has the image log follow the AVI library's announcements, so that neither
// knows the other. The process start and the tests' support install it once;
// every session started afterwards has it.
#pragma once

namespace plat::observers {

void install();

}  // namespace plat::observers
