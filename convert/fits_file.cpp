#include "fits_file.h"

#include <fitsio.h>

#include <system_error>

#include "times.h"

namespace noctil::convert {

namespace {

FitsKeyword text(const char *name, std::string value, const char *comment) {
    return {FitsKeyword::Kind::Text, name, std::move(value), 0, 0, 0, comment};
}
FitsKeyword fixed(const char *name, double value, int decimals, const char *comment) {
    return {FitsKeyword::Kind::Fixed, name, "", 0, value, decimals, comment};
}

std::string cfitsioError(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    return text;
}

}  // namespace

std::vector<FitsKeyword> fitsKeywords(std::uint32_t image, const std::optional<plat::imagelog::LogLine> &line) {
    using plat::imagelog::formatUtc;
    std::vector<FitsKeyword> k;
    k.push_back({FitsKeyword::Kind::Integer, "IMAGENUM", "", image, 0, 0, "image number in the AVI file, from 1"});
    k.push_back(text("ROWORDER", "BOTTOM-UP", "first row is the bottom of the image"));
    k.push_back(text("SWCREATE", "Noctil", "software that took the image"));
    if (line && !line->driver.empty()) k.push_back(text("INSTRUME", line->driver, "capture driver"));
    if (line && !line->format.empty()) k.push_back(text("VIDEOFMT", line->format, "driver's frame format"));
    const std::optional<std::int64_t> exposure = line ? line->exposureMicros() : std::nullopt;
    if (!exposure) {
        k.push_back({FitsKeyword::Kind::Comment, "COMMENT", "No exposure times: the image has no line in an image log.",
                     0, 0, 0, ""});
        return k;
    }
    k.push_back(text("TIMESYS", "UTC", "time scale of the dates"));
    k.push_back(text("DATE-OBS", formatUtc(*line->exposeStart), "start of exposure: port at exposure level"));
    k.push_back(text("DATE-END", formatUtc(*line->exposeEnd), "end of exposure: port left exposure level"));
    k.push_back(fixed("MJD-OBS", modifiedJulianDate(*line->exposeStart), 11, "start of exposure, MJD (UTC)"));
    k.push_back(fixed("MJD-END", modifiedJulianDate(*line->exposeEnd), 11, "end of exposure, MJD (UTC)"));
    k.push_back(fixed("EXPTIME", double(*exposure) / 1e6, 6, "[s] exposure as the port held it"));
    k.push_back(fixed("AMPOFF", double(line->ampOffMicros) / 1e6, 6, "[s] part of it with the amplifier off"));
    if (line->readoutFirst && line->readoutLast) {
        k.push_back(text("DATE-RDB", formatUtc(*line->readoutFirst), "first readout frame captured (UTC)"));
        k.push_back(text("DATE-RDE", formatUtc(*line->readoutLast), "last readout frame captured (UTC)"));
    }
    return k;
}

std::vector<std::uint8_t> imagePlanes(const Picture &picture, bool grey, RowOrder order) {
    const std::size_t width = picture.width, height = picture.height, pixels = width * height;
    std::vector<std::uint8_t> planes(grey ? pixels : pixels * 3);
    for (std::size_t y = 0; y < height; ++y) {
        const std::size_t row = order == RowOrder::AsPicture ? y : height - 1 - y;
        const std::uint8_t *from = picture.rgb.data() + 3 * row * width;
        for (std::size_t x = 0; x < width; ++x, from += 3) {
            const std::size_t i = y * width + x;
            if (grey) {
                planes[i] = from[0];
            } else {
                for (std::size_t c = 0; c < 3; ++c) planes[c * pixels + i] = from[c];
            }
        }
    }
    return planes;
}

bool writeKeywords(fitsfile *file, std::span<const FitsKeyword> keywords, int &status) {
    for (const FitsKeyword &k : keywords) {
        switch (k.kind) {
        case FitsKeyword::Kind::Text:
            fits_update_key_str(file, k.name.c_str(), k.text.c_str(), k.comment.c_str(), &status);
            break;
        case FitsKeyword::Kind::Integer:
            fits_update_key_lng(file, k.name.c_str(), k.integer, k.comment.c_str(), &status);
            break;
        case FitsKeyword::Kind::Fixed:
            fits_update_key_fixdbl(file, k.name.c_str(), k.number, k.decimals, k.comment.c_str(), &status);
            break;
        case FitsKeyword::Kind::Comment: fits_write_comment(file, k.text.c_str(), &status); break;
        }
    }
    return status == 0;
}

bool writeFits(const std::filesystem::path &path, const Picture &picture, bool grey,
               const std::vector<FitsKeyword> &keywords, std::string &error) {
    std::vector<std::uint8_t> planes = imagePlanes(picture, grey, RowOrder::AsPicture);

    int status = 0;
    fitsfile *file = nullptr;
    // The disk-file call takes the name literally: no cfitsio name syntax,
    // and an existing file is never replaced.
    if (fits_create_diskfile(&file, path.c_str(), &status)) {
        error = "cannot create " + path.string() + ": " +
                (std::filesystem::exists(path) ? std::string("it exists") : cfitsioError(status));
        return false;
    }
    long axes[3] = {long(picture.width), long(picture.height), 3};
    fits_create_img(file, BYTE_IMG, grey ? 2 : 3, axes, &status);
    fits_write_img(file, TBYTE, 1, LONGLONG(planes.size()), planes.data(), &status);
    fits_write_date(file, &status);
    writeKeywords(file, keywords, status);
    if (status) {
        error = "writing " + path.string() + " failed: " + cfitsioError(status);
        int ignored = 0;  // the file is removed; its own errors add nothing
        fits_delete_file(file, &ignored);
        return false;
    }
    fits_close_file(file, &status);
    if (status) {
        error = "finishing " + path.string() + " failed: " + cfitsioError(status);
        std::error_code gone;  // a file that could not be finished is not left behind
        std::filesystem::remove(path, gone);
        return false;
    }
    return true;
}

}  // namespace noctil::convert
