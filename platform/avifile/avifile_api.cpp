// The AVI file library's Win32 calls over the writer and reader.
//
// The interfaces handed to the program are objects owned by the session's
// library component; a handle that is not one of them is refused, so a
// stale or wrong handle gives an error instead of a crash. Reference counts
// follow the library: a stream holds its file, a frame reader its stream,
// and the last release of a file that was written finishes it (full index).
#include <vfw.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "avifile/avi_events.h"
#include "avifile/avi_library.h"
#include "avifile/avi_reader.h"
#include "avifile/avi_writer.h"
#include "core/session.h"
#include "files/last_error.h"
#include "files/paths.h"
#include "files/replace_file.h"

struct IAVIFile {
    int refs = 1;
    int fd = -1;  // until the stream's format starts the writer
    std::unique_ptr<plat::avi::Writer> writer;
    std::unique_ptr<plat::avi::Reader> reader;  // a file opened for reading
    bool hasStream = false;
    bool announced = false;    // created for writing: observers follow it
    std::string name;          // as the program gave it, for the displays
    std::uint64_t serial = 0;  // tells a file from an earlier one of the same name
    ~IAVIFile() {
        if (fd >= 0) ::close(fd);
    }
};

struct IAVIStream {
    int refs = 1;
    IAVIFile *file = nullptr;  // the file written through this stream
    AVISTREAMINFOA info{};
    std::unique_ptr<plat::avi::Reader> reader;  // a stream opened for reading
};

struct IGetFrame {
    IAVIStream *stream = nullptr;
    std::vector<std::uint8_t> dib;
};

namespace plat::avi {
namespace {

// The session's observers, a component of its own so that subscribing does
// not bring the library up.
struct Observers {
    ObserverList<const FileEvent &> list;
};

void announce(const FileEvent &event) {
    if (Observers *observers = plat::session().findComponent<Observers>()) observers->list.notify(event);
}

void announceClosed(IAVIFile *file) {
    if (!file->announced) return;
    file->announced = false;
    announce(FileClosed{file});
}

struct Library {
    int useCount = 0;
    std::uint64_t filesOpened = 0;
    std::vector<std::unique_ptr<IAVIFile>> files;
    std::vector<std::unique_ptr<IAVIStream>> streams;
    std::vector<std::unique_ptr<IGetFrame>> frameReaders;
    // The last read stream and frame reader released, with their buffers, for
    // the next open: reading back an image after every exposure then
    // allocates nothing. Neither is handed out, so their handles are refused.
    std::unique_ptr<IAVIStream> spareStream;
    std::unique_ptr<IGetFrame> spareFrameReader;
    // A session that ends with files still held finishes them: what was
    // written stays a complete file.
    ~Library() {
        frameReaders.clear();
        streams.clear();
        for (const auto &file : files) announceClosed(file.get());
        files.clear();
    }
};

Library &library() { return plat::session().component<Library>(); }

template <class T>
bool owns(const std::vector<std::unique_ptr<T>> &list, const T *p) {
    return p && std::any_of(list.begin(), list.end(), [p](const auto &o) { return o.get() == p; });
}

template <class T>
void destroy(std::vector<std::unique_ptr<T>> &list, const T *p) {
    std::erase_if(list, [p](const auto &o) { return o.get() == p; });
}

// Takes `p` out of `list` into `spare` when that is free, else destroys it.
template <class T>
void retire(std::vector<std::unique_ptr<T>> &list, const T *p, std::unique_ptr<T> &spare) {
    const auto it = std::find_if(list.begin(), list.end(), [p](const auto &o) { return o.get() == p; });
    if (it == list.end()) return;
    std::unique_ptr<T> object = std::move(*it);
    list.erase(it);
    if (!spare) spare = std::move(object);
}

// A spare object, or a new one.
template <class T>
std::unique_ptr<T> reuse(std::unique_ptr<T> &spare) {
    return spare ? std::move(spare) : std::make_unique<T>();
}

// What one more image of `format` takes in the file: the image, its
// chunk header and its two index entries.
std::uint64_t bytesPerFrame(std::span<const std::uint8_t> format) {
    BITMAPINFOHEADER header{};
    std::memcpy(&header, format.data(), std::min(format.size(), sizeof header));
    constexpr std::uint64_t kPerFrame = 8 + 16 + 8;
    std::uint64_t image = header.biSizeImage;
    if (image == 0)
        image = ((std::uint64_t(std::abs(header.biWidth)) * header.biBitCount + 31) / 32) * 4 *
                std::uint64_t(std::abs(header.biHeight));
    return image + kPerFrame;
}

void announceStream(IAVIFile *file) {
    if (!file->announced) return;
    const std::filesystem::path path = plat::nativePath(file->name);
    announce(StreamOpened{file, file->name, path, bytesPerFrame(file->writer->format()), file->serial});
}

ULONG releaseFile(IAVIFile *file) {
    Library &lib = library();
    if (!owns(lib.files, file)) return 0;
    if (--file->refs > 0) return ULONG(file->refs);
    announceClosed(file);
    destroy(lib.files, file);  // the writer's destructor finishes the file
    return 0;
}

ULONG releaseStream(IAVIStream *stream) {
    Library &lib = library();
    if (!owns(lib.streams, stream)) return 0;
    if (--stream->refs > 0) return ULONG(stream->refs);
    IAVIFile *file = stream->file;
    if (stream->reader) {
        // A read stream keeps its reader's buffers for the next file read.
        stream->reader->close();
        stream->info = AVISTREAMINFOA{};
        stream->refs = 1;
        retire(lib.streams, stream, lib.spareStream);
    } else {
        destroy(lib.streams, stream);
    }
    if (file) releaseFile(file);
    return 0;
}

}  // namespace

Subscription subscribe(std::function<void(const FileEvent &)> observer) {
    return plat::session().component<Observers>().list.add(std::move(observer));
}

int libraryUseCount() { return library().useCount; }

std::size_t openObjectCount() {
    const Library &lib = library();
    return lib.files.size() + lib.streams.size() + lib.frameReaders.size();
}

std::uint64_t newestFileBeingWritten() {
    std::uint64_t serial = 0;
    for (const auto &file : library().files)
        if (file->writer) serial = file->serial;
    return serial;
}

}  // namespace plat::avi

using plat::avi::library;
using plat::avi::owns;

extern "C" {

void WINAPI AVIFileInit(void) { ++library().useCount; }

void WINAPI AVIFileExit(void) {
    int &count = library().useCount;
    if (count > 0) --count;
}

HRESULT WINAPI AVIFileOpenA(PAVIFILE *file, LPCSTR fileName, UINT mode, LPCLSID handler) {
    if (!file) return AVIERR_BADPARAM;
    *file = nullptr;
    auto &lib = library();
    if (lib.useCount == 0 || !fileName) return AVIERR_BADPARAM;
    if (const DWORD error = plat::windowsNameError(fileName); error != ERROR_SUCCESS) {
        SetLastError(error);  // nothing is created for a name Windows refuses
        return AVIERR_FILEOPEN;
    }
    auto object = std::make_unique<IAVIFile>();
    const auto path = plat::nativePath(fileName);
    if (mode & OF_CREATE) {
        // A new file for writing (OF_CREATE alone means that too); the
        // stream's format starts the writer on it. Only a file is replaced:
        // a folder, a device or a link that leads nowhere refuses the open.
        if (!plat::replaceableAsFile(path)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return AVIERR_FILEOPEN;
        }
        object->fd = plat::createReplacingFile(path.c_str());
        if (object->fd < 0) {
            plat::setLastErrorFromErrno(errno, &path);
            return AVIERR_FILEOPEN;
        }
        object->announced = true;
        IAVIFile *opened = object.get();
        plat::avi::announce(plat::avi::FileOpened{opened, path});
    } else if (mode & (OF_WRITE | OF_READWRITE)) {
        return AVIERR_UNSUPPORTED;  // editing an existing file is not needed
    } else {
        object->reader = plat::avi::Reader::open(path);
        if (!object->reader) return AVIERR_FILEOPEN;
    }
    object->name = fileName;
    object->serial = ++lib.filesOpened;
    *file = object.get();
    lib.files.push_back(std::move(object));
    return AVIERR_OK;
}

ULONG WINAPI AVIFileRelease(PAVIFILE file) { return plat::avi::releaseFile(file); }

HRESULT WINAPI AVIFileCreateStreamA(PAVIFILE file, PAVISTREAM *stream, AVISTREAMINFOA *info) {
    if (!stream) return AVIERR_BADPARAM;
    *stream = nullptr;
    auto &lib = library();
    if (!owns(lib.files, file) || !info) return AVIERR_BADPARAM;
    // One uncompressed video stream per file is what the writer makes.
    if (file->fd < 0 || file->hasStream) return AVIERR_UNSUPPORTED;
    if (info->fccType != streamtypeVIDEO || info->dwScale == 0 || info->dwRate == 0) return AVIERR_BADFORMAT;
    auto object = std::make_unique<IAVIStream>();
    object->info = *info;
    object->file = file;
    ++file->refs;
    file->hasStream = true;
    *stream = object.get();
    lib.streams.push_back(std::move(object));
    return AVIERR_OK;
}

HRESULT WINAPI AVIStreamSetFormat(PAVISTREAM stream, LONG position, LPVOID format, LONG formatSize) {
    auto &lib = library();
    if (!owns(lib.streams, stream) || !stream->file || !format || formatSize < 40 || position != 0)
        return AVIERR_BADPARAM;
    const auto *bytes = static_cast<const std::uint8_t *>(format);
    IAVIFile *file = stream->file;
    if (file->writer) {
        // The format is fixed once set; setting the same again is harmless.
        const auto current = file->writer->format();
        return std::equal(current.begin(), current.end(), bytes, bytes + formatSize) ? AVIERR_OK : AVIERR_UNSUPPORTED;
    }
    if (file->fd < 0) return AVIERR_FILEWRITE;
    const AVISTREAMINFOA &info = stream->info;
    plat::avi::StreamFormat f;
    f.format.assign(bytes, bytes + formatSize);
    f.scale = info.dwScale;
    f.rate = info.dwRate;
    f.fccHandler = info.fccHandler;
    f.suggestedBufferSize = info.dwSuggestedBufferSize;
    const LONG rect[4] = {info.rcFrame.left, info.rcFrame.top, info.rcFrame.right, info.rcFrame.bottom};
    for (int i = 0; i < 4; ++i) f.frame[i] = std::int16_t(std::clamp<LONG>(rect[i], -32768, 32767));
    const int fd = file->fd;
    file->fd = -1;  // the writer owns it now, also when it fails
    file->writer = plat::avi::Writer::createOnDescriptor(fd, f);
    if (!file->writer) return AVIERR_BADFORMAT;
    plat::avi::announceStream(file);
    return AVIERR_OK;
}

HRESULT WINAPI AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, LPVOID buffer, LONG bufferSize, DWORD flags,
                              LONG *samplesWritten, LONG *bytesWritten) {
    if (samplesWritten) *samplesWritten = 0;
    if (bytesWritten) *bytesWritten = 0;
    auto &lib = library();
    if (!owns(lib.streams, stream) || !stream->file || samples != 1 || !buffer || bufferSize <= 0)
        return AVIERR_BADPARAM;
    plat::avi::Writer *writer = stream->file->writer.get();
    if (!writer) return AVIERR_BADFORMAT;
    // Frames are appended in order. A position before the end would replace
    // a frame, which the writer cannot; a position past the end (after a
    // failed write) appends, so the file's images stay contiguous.
    if (start >= 0 && std::uint32_t(start) < writer->frameCount()) return AVIERR_UNSUPPORTED;
    const std::span<const std::uint8_t> frame(static_cast<const std::uint8_t *>(buffer), std::size_t(bufferSize));
    if (!writer->append(frame, (flags & AVIIF_KEYFRAME) != 0)) return AVIERR_FILEWRITE;
    if (stream->file->announced) {
        IAVIFile *file = stream->file;
        const std::uint32_t frames = writer->frameCount();
        plat::avi::announce(plat::avi::FrameAppended{file, frames});
    }
    if (samplesWritten) *samplesWritten = 1;
    if (bytesWritten) *bytesWritten = bufferSize;
    return AVIERR_OK;
}

ULONG WINAPI AVIStreamRelease(PAVISTREAM stream) { return plat::avi::releaseStream(stream); }

HRESULT WINAPI AVIStreamOpenFromFileA(PAVISTREAM *stream, LPCSTR fileName, DWORD fccType, LONG param, UINT mode,
                                      CLSID *handler) {
    if (!stream) return AVIERR_BADPARAM;
    *stream = nullptr;
    auto &lib = library();
    if (lib.useCount == 0 || !fileName || param < 0) return AVIERR_BADPARAM;
    if (mode & (OF_WRITE | OF_READWRITE | OF_CREATE)) return AVIERR_UNSUPPORTED;
    if (fccType != streamtypeVIDEO && fccType != 0) return AVIERR_NODATA;  // only video streams are read
    thread_local std::string path;                                         // keeps its room from file to file
    plat::nativePathInto(fileName, path);
    std::unique_ptr<IAVIStream> object = plat::avi::reuse(lib.spareStream);
    if (!object->reader)
        object->reader = plat::avi::Reader::open(path.c_str(), unsigned(param));
    else if (!object->reader->reopen(path.c_str(), unsigned(param)))
        object->reader.reset();
    const bool opened = object->reader != nullptr;
    if (!opened) {
        lib.spareStream = std::move(object);
        return AVIERR_FILEOPEN;
    }
    const plat::avi::Reader *reader = object->reader.get();
    const plat::avi::StreamHeader &h = reader->header();
    AVISTREAMINFOA &info = object->info;
    info.fccType = streamtypeVIDEO;
    info.fccHandler = h.fccHandler;
    info.dwScale = h.scale;
    info.dwRate = h.rate;
    info.dwLength = DWORD(reader->frameCount());
    info.dwSuggestedBufferSize = h.suggestedBufferSize;
    info.rcFrame = {h.frame[0], h.frame[1], h.frame[2], h.frame[3]};
    *stream = object.get();
    lib.streams.push_back(std::move(object));
    return AVIERR_OK;
}

LONG WINAPI AVIStreamLength(PAVISTREAM stream) {
    auto &lib = library();
    if (!owns(lib.streams, stream)) return -1;
    if (stream->reader) return LONG(stream->reader->frameCount());
    const plat::avi::Writer *writer = stream->file ? stream->file->writer.get() : nullptr;
    return writer ? LONG(writer->frameCount()) : 0;
}

PGETFRAME WINAPI AVIStreamGetFrameOpen(PAVISTREAM stream, LPBITMAPINFOHEADER wanted) {
    auto &lib = library();
    if (!owns(lib.streams, stream) || !stream->reader || !stream->reader->decodable()) return nullptr;
    // The only format decoded to is the 24-bit bottom-up DIB at the stream's
    // size; a request for exactly that (sizes 0 meaning the stream's) is met.
    if (wanted) {
        const plat::avi::Reader &r = *stream->reader;
        const bool sizeOk = (wanted->biWidth == 0 || wanted->biWidth == LONG(r.width())) &&
                            (wanted->biHeight == 0 || wanted->biHeight == LONG(r.height()));
        if (wanted->biBitCount != 24 || wanted->biCompression != 0 || !sizeOk) return nullptr;
    }
    std::unique_ptr<IGetFrame> object = plat::avi::reuse(lib.spareFrameReader);
    object->stream = stream;
    ++stream->refs;
    PGETFRAME result = object.get();
    lib.frameReaders.push_back(std::move(object));
    return result;
}

LPVOID WINAPI AVIStreamGetFrame(PGETFRAME reader, LONG position) {
    auto &lib = library();
    if (!owns(lib.frameReaders, reader) || position < 0) return nullptr;
    if (!reader->stream->reader->decodeToDib24(std::size_t(position), reader->dib)) return nullptr;
    return reader->dib.data();
}

HRESULT WINAPI AVIStreamGetFrameClose(PGETFRAME reader) {
    auto &lib = library();
    if (!owns(lib.frameReaders, reader)) return AVIERR_BADPARAM;
    IAVIStream *stream = reader->stream;
    reader->stream = nullptr;
    plat::avi::retire(lib.frameReaders, reader, lib.spareFrameReader);
    plat::avi::releaseStream(stream);
    return AVIERR_OK;
}

}  // extern "C"
