// What a night leaves on the drives, made and read back from outside the
// program: output files of a given number of images, their bytes, and the
// exposures the port has carried.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace noctil::test {

// An AVI file of `images` small grey images, as an earlier night left it.
void writeEarlierNight(const char *windowsName, int images);
// The images in a file, read through the AVI library; -1 when it opens as no video stream.
LONG imagesIn(const char *windowsName);
// The file's bytes; "(no file)" when there is none.
std::string bytesOf(const char *windowsName);
// The exposures the camera port has started in this session.
std::size_t exposures();
// Everything on drive C apart from the program's own temporary files.
std::vector<std::string> filesOnDriveC();

}  // namespace noctil::test
