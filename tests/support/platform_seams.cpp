// Puts the test doubles behind the platform's seams in every test program:
// the headless display for a session that names no display, and the write
// doubles (drive sizes, kills) under the files the platform writes. Linked
// into each test program as an object file of its own, so it is in force
// whether or not the program refers to anything in it.
#include <memory>

#include "core/hooks.h"
#include "files/write_seam.h"
#include "headless_display.h"

namespace plat {
WriteSeam &writeDoublesSeam();
}

namespace {

std::shared_ptr<plat::Display> headlessDisplay() { return std::make_shared<plat::HeadlessDisplay>(); }

[[maybe_unused]] const bool installed = [] {
    plat::setDefaultDisplayHook(&headlessDisplay);
    plat::installWriteSeam(&plat::writeDoublesSeam());
    return true;
}();

}  // namespace
