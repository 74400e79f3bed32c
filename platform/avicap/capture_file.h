// The capture file of a streaming capture into a file: made before the
// first frame, and copied under another name on request.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "avifile/avi_writer.h"

namespace plat::avicap {

// A new capture file at the Windows name `name` for frames in `format`, at
// `microsPerFrame`; null (and the reason on standard error) when it cannot
// be made.
std::unique_ptr<avi::Writer> createCaptureFile(const std::string &name, const BITMAPINFOHEADER &format,
                                               DWORD microsPerFrame);

// Copies the capture file `from` to `to` (Windows names), replacing it.
bool copyCaptureFile(const std::string &from, const char *to);

}  // namespace plat::avicap
