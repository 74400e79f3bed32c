#include "stack_file.h"

namespace noctil::stack {

namespace {

constexpr std::size_t kLeftOutCards = 1000;  // listed one per card; the rest counted

std::string names(const std::vector<std::string> &list) {
    if (list.empty()) return "none";
    std::string all;
    for (const std::string &n : list) all += (all.empty() ? "" : ", ") + n;
    return all;
}

}  // namespace

std::filesystem::path stackPathFor(const std::filesystem::path &output) {
    std::filesystem::path p = output;
    return p.replace_extension(".stack.fits");
}

std::vector<fits::Card> stackCards(const Stacker &s, const StackView &view, std::int64_t writtenUtc) {
    std::vector<fits::Card> cards = {fits::text("BUNIT", "ADU", "counts of an image of exposure EXPMEAN"),
                                     fits::text("IMAGETYP", "Light", "a stack of light images"),
                                     fits::text("ROWORDER", "BOTTOM-UP", "first row is the bottom of the image"),
                                     fits::text("SWCREATE", "Noctil", "software that made the stack"),
                                     fits::text("DATE", fits::utcText(writtenUtc).substr(0, 19), "file written (UTC)"),
                                     fits::integer("NCOMBINE", view.combined, "images in the stack"),

                                     fits::integer("REFIMAGE", s.referenceNumber(), "image all others are aligned on"),
                                     fits::integer("NLEFTOUT", s.imagesLeftOut(), "images left out of the stack")};
    if (view.exposureSumS > 0) {
        cards.push_back(fits::fixed("EXPTIME", view.exposureSumS, 6, "[s] sum of the measured exposures"));
        cards.push_back(fits::fixed("EXPMEAN", view.meanExposureS, 6, "[s] mean exposure: the data's scale"));
    } else {
        cards.push_back(fits::comment("No measured exposures: the images were weighted alike."));
    }
    if (s.firstStartUtc() && s.lastEndUtc()) {
        cards.push_back(fits::text("TIMESYS", "UTC", "time scale of the dates"));
        cards.push_back(fits::text("DATE-OBS", fits::utcText(*s.firstStartUtc()), "start of the first exposure in it"));
        cards.push_back(fits::text("DATE-END", fits::utcText(*s.lastEndUtc()), "end of the last exposure in it"));
    }
    cards.push_back(fits::text("DARK", names(s.darksUsed()), "master dark(s) taken away"));
    cards.push_back(fits::text("FLAT", names(s.flatsUsed()), "master flat(s) divided by"));
    std::size_t listed = 0;
    for (const LeftOut &l : s.leftOut()) {
        if (listed++ == kLeftOutCards) break;
        cards.push_back(fits::history("image " + std::to_string(l.number) + " left out: " + l.reason));
    }
    if (std::size_t(s.imagesLeftOut()) > std::min(listed, kLeftOutCards))
        cards.push_back(fits::history("and " +
                                      std::to_string(std::size_t(s.imagesLeftOut()) - std::min(listed, kLeftOutCards)) +
                                      " more images left out"));
    return cards;
}

std::vector<std::uint8_t> stackFileBytes(Stacker &s, std::int64_t writtenUtc) {
    const StackView view = s.stack();
    const fits::Axes axes{view.format.width, view.format.height, std::uint32_t(view.format.channels)};
    return fits::fileBytes(axes, view.planes, stackCards(s, view, writtenUtc));
}

}  // namespace noctil::stack
