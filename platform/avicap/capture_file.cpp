#include "avicap/capture_file.h"

#include <cstdio>
#include <filesystem>

#include "files/paths.h"

namespace plat::avicap {

std::unique_ptr<avi::Writer> createCaptureFile(const std::string &name, const BITMAPINFOHEADER &format,
                                               DWORD microsPerFrame) {
    const std::filesystem::path path = nativePath(name);
    std::error_code ignored;  // a missing directory shows as the create failing below
    std::filesystem::create_directories(path.parent_path(), ignored);
    avi::StreamFormat stream;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(&format);
    stream.format.assign(bytes, bytes + sizeof format);
    stream.scale = microsPerFrame;
    stream.rate = 1000000;
    std::unique_ptr<avi::Writer> writer = avi::Writer::create(path, stream);
    if (!writer) std::fprintf(stderr, "capture window: cannot create the capture file %s\n", path.string().c_str());
    return writer;
}

bool copyCaptureFile(const std::string &from, const char *to) {
    const std::filesystem::path source = nativePath(from);
    const std::filesystem::path target = nativePath(to);
    std::error_code error;
    if (!std::filesystem::is_regular_file(source, error)) return false;
    std::filesystem::create_directories(target.parent_path(), error);
    if (!std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing, error)) {
        std::fprintf(stderr, "capture window: cannot copy %s to %s: %s\n", source.string().c_str(),
                     target.string().c_str(), error.message().c_str());
        return false;
    }
    return true;
}

}  // namespace plat::avicap
