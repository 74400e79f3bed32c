#include "observers/image_facts.h"

#include <cstring>

#include "imagelog/image_log.h"
#include "port/port_exposure.h"

namespace plat::observers {

imagelog::LogLine composeLine(std::uint32_t image, std::span<const PortWrite> writes,
                              const avicap::StreamRecord &readout, UtcMicros utcOffset) {
    imagelog::LogLine line;
    composeLineInto(image, writes, readout, utcOffset, line);
    return line;
}

void composeLineInto(std::uint32_t image, std::span<const PortWrite> writes, const avicap::StreamRecord &readout,
                     UtcMicros utcOffset, imagelog::LogLine &line) {
    line.image = image;
    line.exposeStart.reset();
    line.exposeEnd.reset();
    line.ampOffMicros = 0;
    line.suspendedMicros = 0;
    line.readoutFirst.reset();
    line.readoutLast.reset();
    line.readoutFrames = 0;
    line.driver.clear();
    line.format.clear();
    const std::optional<PortExposure> exposure = lastExposure(writes);
    if (exposure) {
        line.exposeStart = exposure->start + utcOffset;
        line.exposeEnd = exposure->end + utcOffset;
        line.ampOffMicros = exposure->ampOff;
        line.suspendedMicros = exposure->suspended;
    }
    // The readout of this exposure began while the port still held it.
    if (readout.seen && readout.frames > 0 && (!exposure || readout.start >= exposure->start)) {
        line.readoutFirst = readout.first + utcOffset;
        line.readoutLast = readout.last + utcOffset;
        line.readoutFrames = readout.frames;
        line.driver.assign(readout.driver, strnlen(readout.driver, sizeof readout.driver));
        char format[64];
        imagelog::describeFrameFormatTo(readout.format, format);
        line.format.assign(format);
    }
}

}  // namespace plat::observers
