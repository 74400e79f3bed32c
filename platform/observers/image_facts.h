// The line of the image log for one image, composed from the port's writes
// and the capture window's stream records: the log itself knows neither.
#pragma once

#include <cstdint>
#include <span>

#include "avicap/stream_record.h"
#include "core/utc.h"
#include "imagelog/log_format.h"
#include "port/parallel_port.h"

namespace plat::observers {

// The line of image `image`: its exposure from the port's writes, its
// readout from the last stream without a file, times in UTC by `utcOffset`.
imagelog::LogLine composeLine(std::uint32_t image, std::span<const PortWrite> writes,
                              const avicap::StreamRecord &readout, UtcMicros utcOffset);
// The same into `line`, whose texts keep their room.
void composeLineInto(std::uint32_t image, std::span<const PortWrite> writes, const avicap::StreamRecord &readout,
                     UtcMicros utcOffset, imagelog::LogLine &line);

}  // namespace plat::observers
