// The calls through which a session's driver list reaches the machine's
// V4L2 devices: the system's, unless a test has put a scripted device in
// their place. The driver list hands them to each V4L2 driver it makes.
#pragma once

#include <memory>

#include "avicap/v4l2/v4l2_io.h"

namespace plat::avicap::v4l2 {

std::shared_ptr<Io> sessionIo();
void setSessionIo(std::shared_ptr<Io> io);

}  // namespace plat::avicap::v4l2
