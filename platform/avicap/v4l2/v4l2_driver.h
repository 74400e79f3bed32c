// V4L2 video-capture devices as capture drivers: the devices the machine
// has, and a driver for one of them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "avicap/driver.h"
#include "avicap/v4l2/v4l2_io.h"
#include "core/clock.h"

namespace plat::avicap::v4l2 {

// A device that can capture video, as the driver list shows it.
struct DeviceListing {
    std::string node;         // /dev/video0
    std::string description;  // "card (bus)", which tells like devices apart
    std::string card;         // the kind of device
};

// Every node of `io` that is a video-capture device that streams.
std::vector<DeviceListing> listDevices(Io &io);

// A driver for the device of `listing`, reached through `io`; `clock` paces
// its waits for frames and its looking for the device again.
std::unique_ptr<Driver> makeV4l2Driver(std::shared_ptr<Io> io, DeviceListing listing, Clock &clock);

}  // namespace plat::avicap::v4l2
