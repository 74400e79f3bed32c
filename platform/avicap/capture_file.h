// The capture file of a streaming capture into a file: made before the
// first frame, and copied under another name on request.
#pragma once

#include <windows.h>

#include <string>

#include "avifile/avi_writer.h"

namespace plat::avicap {

// Starts `file` on a new capture file at the Windows name `name` for frames
// in `format`, at `microsPerFrame`; false (and the reason on standard error
// and as the last error) when it cannot be made. The writer's buffers are
// reused, so making the capture file of each image allocates nothing.
bool createCaptureFile(const std::string &name, const BITMAPINFOHEADER &format, DWORD microsPerFrame,
                       avi::Writer &file);

// Copies the capture file `from` to `to` (Windows names), replacing it;
// false, with the reason as the last error, when it cannot.
bool copyCaptureFile(const std::string &from, const char *to);

}  // namespace plat::avicap
