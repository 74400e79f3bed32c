// indi_noctil_ccd: libindi's driver main (libindidriver) reads what
// indiserver sends and calls these entry points, each forwarded to the one
// driver object.
#include <libindi/indidevapi.h>

#include "noctil_ccd.h"

namespace {

noctil::indi::NoctilCcd &driver() {
    static noctil::indi::NoctilCcd ccd;
    return ccd;
}

}  // namespace

extern "C" {

void ISGetProperties(const char *dev) { driver().ISGetProperties(dev); }

void ISNewSwitch(const char *dev, const char *name, ISState *states, char *names[], int n) {
    driver().ISNewSwitch(dev, name, states, names, n);
}

void ISNewText(const char *dev, const char *name, char *texts[], char *names[], int n) {
    driver().ISNewText(dev, name, texts, names, n);
}

void ISNewNumber(const char *dev, const char *name, double values[], char *names[], int n) {
    driver().ISNewNumber(dev, name, values, names, n);
}

void ISNewBLOB(const char *dev, const char *name, int sizes[], int blobsizes[], char *blobs[], char *formats[],
               char *names[], int n) {
    driver().ISNewBLOB(dev, name, sizes, blobsizes, blobs, formats, names, n);
}

void ISSnoopDevice(XMLEle *root) { driver().ISSnoopDevice(root); }

}  // extern "C"
