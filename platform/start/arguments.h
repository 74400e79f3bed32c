// The process start's command line. The program itself reads none: a Linux
// program is still expected to answer --help and --version without starting,
// and to refuse what it does not know rather than ignore it.
#ifndef NOCTIL_START_ARGUMENTS_H
#define NOCTIL_START_ARGUMENTS_H

#include <cstdio>
#include <span>

namespace plat {

struct StartAnswer {
    bool run;        // no arguments: start the program
    int exitStatus;  // otherwise the process ends with this status
};

// Answers --help (-h) and --version on `out`; names any other argument as
// unknown on `err` (exit status 2). Nothing else is done before the answer:
// the camera port and the platform root are not touched.
StartAnswer answerCommandLine(std::span<const char *const> arguments, std::FILE *out, std::FILE *err);

}  // namespace plat

#endif  // NOCTIL_START_ARGUMENTS_H
