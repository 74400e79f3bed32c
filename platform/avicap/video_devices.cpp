#include "avicap/video_devices.h"

#include "core/session.h"

namespace plat::avicap::v4l2 {

namespace {

struct SessionIo {
    std::shared_ptr<Io> io = systemIo();
};

}  // namespace

std::shared_ptr<Io> sessionIo() { return session().component<SessionIo>().io; }

void setSessionIo(std::shared_ptr<Io> io) { session().component<SessionIo>().io = std::move(io); }

}  // namespace plat::avicap::v4l2
