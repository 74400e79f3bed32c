// The live stack: each image calibrated, its stars found and matched to the
// reference (the first image with stars enough), turned onto it and added
// to a mean weighted by the measured exposure, with pixels that stray from
// the running mean left out once enough images are in. Every image gets its
// fate; the memory is taken with the first image of a run.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "image.h"
#include "masters.h"
#include "match.h"
#include "stars.h"

namespace noctil::stack {

struct StackSettings {
    int starsNeeded = 6;
    int rejectFrom = 5;        // images at a pixel before strays are left out
    float rejectSigma = 3.0f;  // how far a stray is from the running mean
    bool useDarks = true, useFlats = true;
    std::size_t leftOutKept = 4096;  // images left out that are listed by name and reason
};

struct ImageResult {
    std::uint32_t number = 0;
    bool stacked = false;
    bool reference = false;      // became the reference
    char reason[96] = {};        // why it was left out
    char notice[200] = {};       // what else the user should know (a restart, a dark of another format)
    char calibration[208] = {};  // the dark and flat used
    int stars = 0;
    float medianFwhm = 0;
    int pairs = 0;                  // stars matched to the reference's
    double rms = 0;                 // their residual, pixels
    double shiftX = 0, shiftY = 0;  // the field's drift against the reference, pixels (y up)
    double rotationDeg = 0;         // its turn against the reference, counter-clockwise
    std::size_t strayPixels = 0;    // pixels left out of the mean
};

struct LeftOut {
    std::uint32_t number;
    char reason[96];
};

// The stack: the weighted mean of the images in it, as counts of an image
// of their mean exposure, linear; planes R, G, B (or one grey), rows from the bottom.
struct StackView {
    FrameFormat format;
    std::span<const float> planes;
    int combined = 0;
    double exposureSumS = 0, meanExposureS = 0;
};

class Stacker {
public:
    explicit Stacker(StackSettings settings = {}, Library calibration = {});

    const ImageResult &add(const ImageIn &image);
    // The next image with stars enough starts the stack again.
    void reset();

    int imagesIn() const { return in_; }
    int imagesLeftOut() const { return leftOutCount_; }
    std::span<const LeftOut> leftOut() const { return leftOut_; }
    std::optional<std::int64_t> firstStartUtc() const { return firstStart_; }
    std::optional<std::int64_t> lastEndUtc() const { return lastEnd_; }
    std::uint32_t referenceNumber() const { return referenceNumber_; }
    // The names of the masters used since the stack began.
    std::vector<std::string> darksUsed() const;
    std::vector<std::string> flatsUsed() const;
    const Library &calibration() const { return calibration_; }
    const StackSettings &settings() const { return settings_; }

    // The stack as it stands (computed into a buffer of the run).
    StackView stack();

private:
    int channelsOf(const ImageIn &image) const;
    void startRun(const FrameFormat &format);
    void clearStack();
    void leaveOut(const char *reason);
    void calibrate(const ImageIn &image);
    void accumulate(const Similarity &toReference, double exposure, float noiseRate);

    StackSettings settings_;
    Library calibration_;
    StarFinder finder_;
    Matcher matcher_;
    ImageResult result_;

    FrameFormat format_{0, 0, 0, FieldMode::WholeFrame};
    std::size_t pixels_ = 0;
    std::vector<float> planes_, luminance_;  // the image being added
    std::vector<float> mean_, m2_, weight_;  // per channel; weight per pixel
    std::vector<std::uint16_t> count_;       // images at each pixel
    std::vector<float> out_;
    std::vector<LeftOut> leftOut_;
    std::vector<std::uint8_t> darkUsed_, flatUsed_;

    int in_ = 0, leftOutCount_ = 0;
    double exposureSum_ = 0, normalisingSum_ = 0;  // measured; as divided by (1 s where unknown)
    float referenceBackground_ = 0;                // counts per second
    bool exposuresMeasured_ = true;                // the stack's images came with their exposures
    std::uint32_t referenceNumber_ = 0;
    std::optional<std::int64_t> firstStart_, lastEnd_;
};

}  // namespace noctil::stack
