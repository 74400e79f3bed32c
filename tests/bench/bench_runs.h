// Runs of the whole program for the benchmark: WinMain on its own platform
// root, with a settings file made for the run, driven by a person who
// chooses Record at once and closes the program when the run has ended.
#pragma once

#include <cstdint>
#include <vector>

#include "malloc_count.h"
#include "port/parallel_port.h"

namespace bench {

struct RunConfig {
    bool virtualClock = false;
    bool qt = false;  // the Qt display (QT_QPA_PLATFORM or DISPLAY must name one)
    int exposureMs = 2000;
    int delayMs = 0;
    int images = 10;
    int previewMode = 0;  // 0 none, 2 preview
    int width = 640, height = 480;
    // Counts the heap from the start of this exposure (0 = the first) to the
    // start of the last one; -1 counts nothing.
    int countFrom = -1;
    bool keepWrites = true;
    bool liveStack = false;  // the Live Stack window open: every image stacked
};

struct RunResult {
    bool ok = false;
    std::vector<plat::PortWrite> writes;
    double wallMs = 0, cpuMs = 0;
    HeapCount heap;
    int countedImages = 0;
};

RunResult runProgram(const RunConfig &config);

// Processor time the process has used so far, user and system, in ms.
double cpuMs();

}  // namespace bench
