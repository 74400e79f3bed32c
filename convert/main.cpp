// noctil-convert: the images of a Noctil output file as FITS or SER files.
#include <iostream>
#include <string>
#include <vector>

#include "conversion.h"
#include "noctil_version.h"
#include "options.h"

int main(int argc, char **argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = noctil::convert::parseOptions(args, error);
    if (!options) {
        std::cerr << "noctil-convert: " << error << "\n" << noctil::convert::usageText();
        return 2;
    }
    if (options->help) {
        std::cout << noctil::convert::usageText();
        return 0;
    }
    if (options->version) {
        std::cout << "noctil-convert " << NOCTIL_VERSION << "\n";
        return 0;
    }
    return noctil::convert::convert(*options, std::cout, std::cerr);
}
