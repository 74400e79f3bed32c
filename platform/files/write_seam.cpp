#include "files/write_seam.h"

namespace plat {

namespace {
WriteSeam *installed = nullptr;
}

WriteSeam *writeSeam() { return installed; }

void installWriteSeam(WriteSeam *seam) { installed = seam; }

}  // namespace plat
