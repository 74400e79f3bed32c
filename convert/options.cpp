#include "options.h"

namespace noctil::convert {

const char *usageText() {
    return "usage: noctil-convert [options] FILE.AVI\n"
           "Writes the images of a Noctil output file as FITS files (one per image)\n"
           "or as one SER file, with each image's times from the image log beside it.\n"
           "\n"
           "  --fits            one FITS file per image, NAME_0001.fits ... (the default)\n"
           "  --ser             one SER file, NAME.ser, with a time for each image\n"
           "  --stack           the images aligned and stacked as the live stack does it,\n"
           "                    NAME.stack.fits, with each image's fate said\n"
           "  --darks DIR       --stack: take darks from the library folder DIR\n"
           "  --flats DIR       --stack: take flats from the library folder DIR\n"
           "  --log FILE        the image log (default: NAME.log or NAME.LOG beside the file)\n"
           "  --no-log          ignore any image log: no times are written\n"
           "  -o, --output DIR  write into DIR (default: the directory of the file)\n"
           "  --force           replace files that exist (never done otherwise)\n"
           "  -h, --help        show this text\n"
           "  --version         show the version\n";
}

std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &error) {
    Options o;
    bool kindGiven = false;
    const auto fail = [&error](std::string text) -> std::optional<Options> {
        error = std::move(text);
        return std::nullopt;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        const auto value = [&]() -> const std::string * {
            if (i + 1 >= args.size() || args[i + 1].empty()) return nullptr;
            return &args[++i];
        };
        if (a == "--fits" || a == "--ser" || a == "--stack") {
            const OutputKind kind = a == "--fits" ? OutputKind::Fits : a == "--ser" ? OutputKind::Ser : OutputKind::Stack;
            if (kindGiven && kind != o.kind) return fail("--fits, --ser and --stack exclude each other");
            o.kind = kind;
            kindGiven = true;
        } else if (a == "--log") {
            const std::string *v = value();
            if (!v) return fail("--log needs a file name");
            o.log = *v;
        } else if (a == "--darks" || a == "--flats") {
            const std::string *v = value();
            if (!v) return fail(a + " needs a library folder");
            (a == "--darks" ? o.darks : o.flats) = *v;
        } else if (a == "--no-log") {
            o.useLog = false;
        } else if (a == "-o" || a == "--output") {
            const std::string *v = value();
            if (!v) return fail(a + " needs a directory");
            o.outputDirectory = *v;
        } else if (a == "--force") {
            o.force = true;
        } else if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--") {
            if (i + 2 != args.size()) return fail("one input file after --");
            if (!o.input.empty()) return fail("one input file, not two");
            o.input = args[++i];
        } else if (!a.empty() && a[0] == '-') {
            return fail("unknown option " + a);
        } else {
            if (!o.input.empty()) return fail("one input file, not two");
            o.input = a;
        }
    }
    if (o.help || o.version) return o;
    if (o.input.empty()) return fail("no input file");
    if (o.log && !o.useLog) return fail("--log and --no-log exclude each other");
    if ((o.darks || o.flats) && o.kind != OutputKind::Stack) return fail("--darks and --flats go with --stack");
    return o;
}

}  // namespace noctil::convert
