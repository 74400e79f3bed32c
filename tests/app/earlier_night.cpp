#include "earlier_night.h"

#include <camport.h>
#include <gtest/gtest.h>
#include <vfw.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/session.h"
#include "files/paths.h"
#include "port/parallel_port.h"

namespace noctil::test {

namespace fs = std::filesystem;

void writeEarlierNight(const char *windowsName, int images) {
    AVIFileInit();
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, windowsName, OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 25;
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
    BITMAPINFOHEADER format{};
    format.biSize = sizeof format;
    format.biWidth = 16;
    format.biHeight = 8;
    format.biPlanes = 1;
    format.biBitCount = 24;
    format.biSizeImage = 16 * 3 * 8;
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, &format, sizeof format), AVIERR_OK);
    std::vector<BYTE> rows(format.biSizeImage);
    for (int i = 0; i < images; i++) {
        std::fill(rows.begin(), rows.end(), BYTE(40 + i));
        ASSERT_EQ(AVIStreamWrite(stream, i, 1, rows.data(), LONG(rows.size()), AVIIF_KEYFRAME, nullptr, nullptr),
                  AVIERR_OK);
    }
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    AVIFileExit();
}

LONG imagesIn(const char *windowsName) {
    AVIFileInit();
    PAVISTREAM stream = nullptr;
    LONG images = -1;
    if (AVIStreamOpenFromFileA(&stream, windowsName, streamtypeVIDEO, 0, OF_READ, nullptr) == AVIERR_OK) {
        images = AVIStreamLength(stream);
        AVIStreamRelease(stream);
    }
    AVIFileExit();
    return images;
}

std::string bytesOf(const char *windowsName) {
    std::ifstream in(plat::nativePath(windowsName), std::ios::binary);
    if (!in) return "(no file)";
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::size_t exposures() {
    std::size_t n = 0;
    for (const plat::PortWrite &w : plat::session().component<plat::ParallelPort>().writes())
        n += w.value == PORT_EXPOSE;
    return n;
}

std::vector<std::string> filesOnDriveC() {
    std::vector<std::string> names;
    for (const fs::directory_entry &e : fs::directory_iterator(plat::driveDirectory('c'))) {
        const std::string name = e.path().filename().string();
        if (name.rfind("_NOCTIL", 0) != 0 && name != "WINDOWS") names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace noctil::test
