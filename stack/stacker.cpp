#include "stacker.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace noctil::stack {

namespace {

constexpr float kSmallestFlat = 0.05f;    // flat values below this are not trusted to divide by
constexpr float kBrighterShare = 0.5f;    // a background this much above the reference's ...
constexpr float kBrighterSigmas = 6.0f;   // ... and this many noise sigmas is a cloud or dawn
constexpr float kStrayFloorShare = 0.5f;  // the spread never counts as less than half an image's noise

}  // namespace

Stacker::Stacker(StackSettings settings, Library calibration)
    : settings_(settings), calibration_(std::move(calibration)) {
    leftOut_.reserve(settings_.leftOutKept);
    darkUsed_.assign(calibration_.darks.size(), 0);
    flatUsed_.assign(calibration_.flats.size(), 0);
}

void Stacker::startRun(const FrameFormat &format) {
    format_ = format;
    pixels_ = std::size_t(format.width) * format.height;
    const std::size_t values = pixels_ * std::size_t(format.channels);
    // Buffers only grow: a run of a smaller format reuses them.
    if (planes_.size() < values) {
        planes_.resize(values);
        mean_.resize(values);
        m2_.resize(values);
        out_.resize(values);
    }
    if (luminance_.size() < pixels_) {
        luminance_.resize(pixels_);
        weight_.resize(pixels_);
        count_.resize(pixels_);
        finder_.reserve(format.width, format.height);
    }
    clearStack();
    matcher_.clearReference();
}

void Stacker::clearStack() {
    std::fill(mean_.begin(), mean_.end(), 0.0f);
    std::fill(m2_.begin(), m2_.end(), 0.0f);
    std::fill(weight_.begin(), weight_.end(), 0.0f);
    std::fill(count_.begin(), count_.end(), std::uint16_t(0));
    std::fill(darkUsed_.begin(), darkUsed_.end(), std::uint8_t(0));
    std::fill(flatUsed_.begin(), flatUsed_.end(), std::uint8_t(0));
    leftOut_.clear();
    in_ = leftOutCount_ = 0;
    exposureSum_ = normalisingSum_ = 0;
    referenceNumber_ = 0;
    firstStart_.reset();
    lastEnd_.reset();
}

void Stacker::reset() {
    clearStack();
    matcher_.clearReference();
}

void Stacker::leaveOut(const char *reason) {
    std::snprintf(result_.reason, sizeof result_.reason, "%s", reason);
    ++leftOutCount_;
    if (leftOut_.size() < settings_.leftOutKept) {
        LeftOut l{result_.number, {}};
        std::snprintf(l.reason, sizeof l.reason, "%s", reason);
        leftOut_.push_back(l);
    }
}

// The image's planes less the dark (its part above the pedestal scaled for
// a near match) and divided by the flat.
void Stacker::calibrate(const ImageIn &image) {
    toPlanes(image, planes_);
    const FrameFormat &f = image.format;
    char darkText[100] = "no dark", flatText[100] = "no flat";
    if (settings_.useDarks && !calibration_.darks.empty()) {
        const DarkChoice choice = chooseDark(calibration_.darks, f, image.exposureS, image.ampOffS);
        if (choice.otherFormatOnly) {
            char have[96];
            describe(f, have, sizeof have);
            std::snprintf(result_.notice, sizeof result_.notice,
                          "no dark of this format (%s) in the library: none used", have);
        }
        if (choice.index >= 0) {
            const MasterFrame &d = calibration_.darks[std::size_t(choice.index)];
            darkUsed_[std::size_t(choice.index)] = 1;
            const float scale = float(choice.thermalScale);
            for (int c = 0; c < f.channels; ++c) {
                const float pedestal = d.pedestal[std::size_t(c)];
                float *v = planes_.data() + std::size_t(c) * pixels_;
                const float *dv = d.planes.data() + std::size_t(c) * pixels_;
                for (std::size_t i = 0; i < pixels_; ++i) v[i] -= pedestal + (dv[i] - pedestal) * scale;
            }
            if (choice.thermalScale == 1)
                std::snprintf(darkText, sizeof darkText, "dark %s", d.name.c_str());
            else
                std::snprintf(darkText, sizeof darkText, "dark %s scaled x%.3f", d.name.c_str(), choice.thermalScale);
        }
    }
    if (settings_.useFlats) {
        const int which = chooseFlat(calibration_.flats, f);
        if (which >= 0) {
            const MasterFrame &flat = calibration_.flats[std::size_t(which)];
            flatUsed_[std::size_t(which)] = 1;
            const std::size_t values = pixels_ * std::size_t(f.channels);
            for (std::size_t i = 0; i < values; ++i) planes_[i] /= std::max(kSmallestFlat, flat.planes[i]);
            std::snprintf(flatText, sizeof flatText, "flat %s", flat.name.c_str());
        }
    }
    std::snprintf(result_.calibration, sizeof result_.calibration, "%s; %s", darkText, flatText);
    if (f.channels == 1) {
        std::copy_n(planes_.begin(), pixels_, luminance_.begin());
    } else {
        for (std::size_t i = 0; i < pixels_; ++i)
            luminance_[i] = (planes_[i] + planes_[pixels_ + i] + planes_[2 * pixels_ + i]) * (1.0f / 3);
    }
}

// Each pixel of the reference's grid takes the image's value where the
// transform puts it (bilinear), in counts per second, into the running
// weighted mean and spread (West's update), unless it strays.
void Stacker::accumulate(const Similarity &t, double exposure, float noiseRate) {
    const std::uint32_t w = format_.width, h = format_.height;
    const int channels = format_.channels;
    const float weight = float(exposure), perSecond = float(1.0 / exposure);
    const float floorVar = (kStrayFloorShare * noiseRate) * (kStrayFloorShare * noiseRate);
    const float kappa2 = settings_.rejectSigma * settings_.rejectSigma;
    const double maxX = double(w - 1), maxY = double(h - 1);
    float v[3];
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            const double dx = double(x) - t.tx, dy = double(y) - t.ty;
            const double ix = t.c * dx + t.s * dy, iy = -t.s * dx + t.c * dy;
            if (!(ix >= 0 && iy >= 0 && ix <= maxX && iy <= maxY)) continue;
            const std::uint32_t x0 = std::uint32_t(ix), y0 = std::uint32_t(iy);
            const std::uint32_t x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
            const float fx = float(ix - x0), fy = float(iy - y0);
            for (int c = 0; c < channels; ++c) {
                const float *p = planes_.data() + std::size_t(c) * pixels_;
                const float a = p[std::size_t(y0) * w + x0], b = p[std::size_t(y0) * w + x1];
                const float d = p[std::size_t(y1) * w + x0], e = p[std::size_t(y1) * w + x1];
                const float bottom = a + fx * (b - a), top = d + fx * (e - d);
                v[c] = (bottom + fy * (top - bottom)) * perSecond;
            }
            const std::size_t i = std::size_t(y) * w + x;
            if (count_[i] >= settings_.rejectFrom) {
                bool stray = false;
                for (int c = 0; c < channels; ++c) {
                    const std::size_t k = std::size_t(c) * pixels_ + i;
                    const float var = std::max(m2_[k] / weight_[i], floorVar);
                    const float off = v[c] - mean_[k];
                    if (off * off > kappa2 * var) stray = true;
                }
                if (stray) {
                    ++result_.strayPixels;
                    continue;
                }
            }
            const float total = weight_[i] + weight;
            for (int c = 0; c < channels; ++c) {
                const std::size_t k = std::size_t(c) * pixels_ + i;
                const float off = v[c] - mean_[k];
                mean_[k] += off * (weight / total);
                m2_[k] += weight * off * (v[c] - mean_[k]);
            }
            weight_[i] = total;
            if (count_[i] < 0xFFFF) ++count_[i];
        }
    }
}

// A grey image is one whose channels are all equal; it joins a colour stack
// of its size as colour, so that a black frame never restarts the stack.
int Stacker::channelsOf(const ImageIn &image) const {
    const FrameFormat &f = image.format;
    if (!rowsAreGrey(image.rows, f.width, f.height)) return 3;
    const bool colourRun = format_.channels == 3 && format_.width == f.width && format_.height == f.height &&
                           format_.fieldMode == f.fieldMode;
    return colourRun ? 3 : 1;
}

const ImageResult &Stacker::add(const ImageIn &given) {
    result_ = ImageResult{};
    result_.number = given.number;
    ImageIn image = given;
    FrameFormat &f = image.format;
    if (f.width < 32 || f.height < 32 || f.width > 16384 || f.height > 16384 ||
        (f.channels != 0 && f.channels != 1 && f.channels != 3)) {
        char text[64];
        std::snprintf(text, sizeof text, "an image of %ux%u cannot be stacked", f.width, f.height);
        leaveOut(text);
        return result_;
    }
    const std::size_t needed = dibRowBytes(f.width) * f.height;
    if (image.rows.size() < needed) {
        char text[96];
        std::snprintf(text, sizeof text, "image cut short: %zu of %zu bytes", image.rows.size(), needed);
        leaveOut(text);
        return result_;
    }
    if (f.channels == 0) f.channels = channelsOf(image);
    if (!(f == format_)) {
        if (format_.width != 0) {
            char was[64], now[64];
            describe(format_, was, sizeof was);
            describe(f, now, sizeof now);
            std::snprintf(result_.notice, sizeof result_.notice, "images of %s after %s: the stack started again", now,
                          was);
        }
        startRun(f);
    }
    if (in_ > 0 && (image.exposureS > 0) != exposuresMeasured_) {
        leaveOut(exposuresMeasured_ ? "no measured exposure, unlike the images in the stack"
                                    : "a measured exposure, unlike the images in the stack");
        return result_;
    }

    calibrate(image);
    const double exposure = image.exposureS > 0 ? image.exposureS : 1.0;
    const std::span<const Star> stars = finder_.find(std::span(luminance_).first(pixels_), f.width, f.height);
    result_.stars = int(stars.size());
    result_.medianFwhm = finder_.medianFwhm();
    const float backgroundRate = float(finder_.background() / exposure);
    const float noiseRate = float(finder_.noise() / exposure);

    if (matcher_.hasReference() && backgroundRate - referenceBackground_ >
                                       kBrighterShare * std::fabs(referenceBackground_) + kBrighterSigmas * noiseRate) {
        leaveOut("much brighter than the stack: cloud or dawn?");
        return result_;
    }
    if (result_.stars < settings_.starsNeeded) {
        char text[64];
        std::snprintf(text, sizeof text, "%d stars found, %d needed", result_.stars, settings_.starsNeeded);
        leaveOut(text);
        return result_;
    }
    Similarity toReference;
    if (!matcher_.hasReference()) {
        matcher_.setReference(stars);
        referenceBackground_ = backgroundRate;
        referenceNumber_ = image.number;
        exposuresMeasured_ = image.exposureS > 0;
        result_.reference = true;
        result_.pairs = result_.stars;
    } else {
        const MatchResult m = matcher_.match(stars);
        if (!m.matched) {
            leaveOut("no match with the reference");
            return result_;
        }
        toReference = m.toReference;
        result_.pairs = m.pairs;
        result_.rms = m.rms;
    }

    accumulate(toReference, exposure, noiseRate);
    result_.stacked = true;
    ++in_;
    exposureSum_ += image.exposureS > 0 ? image.exposureS : 0;
    normalisingSum_ += exposure;
    if (image.startUtc && !firstStart_) firstStart_ = image.startUtc;
    if (image.endUtc) lastEnd_ = image.endUtc;

    // The drift and turn of the field: where the reference's centre lies in this image.
    const double cx = 0.5 * (f.width - 1), cy = 0.5 * (f.height - 1);
    const double dx = cx - toReference.tx, dy = cy - toReference.ty;
    result_.shiftX = toReference.c * dx + toReference.s * dy - cx;
    result_.shiftY = -toReference.s * dx + toReference.c * dy - cy;
    result_.rotationDeg = -toReference.rotationDegrees();
    return result_;
}

StackView Stacker::stack() {
    StackView view;
    view.format = format_;
    view.combined = in_;
    view.exposureSumS = exposureSum_;
    view.meanExposureS = in_ > 0 ? normalisingSum_ / in_ : 0;
    const std::size_t values = pixels_ * std::size_t(format_.channels);
    const float scale = float(view.meanExposureS);
    for (std::size_t k = 0; k < values; ++k) out_[k] = weight_[k % pixels_] > 0 ? mean_[k] * scale : 0.0f;
    view.planes = std::span<const float>(out_).first(values);
    return view;
}

std::vector<std::string> Stacker::darksUsed() const {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < darkUsed_.size(); ++i)
        if (darkUsed_[i]) names.push_back(calibration_.darks[i].name);
    return names;
}

std::vector<std::string> Stacker::flatsUsed() const {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < flatUsed_.size(); ++i)
        if (flatUsed_[i]) names.push_back(calibration_.flats[i].name);
    return names;
}

}  // namespace noctil::stack
