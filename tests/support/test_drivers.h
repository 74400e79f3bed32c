// Capture drivers for tests: each is described by a TestDriverPlan and
// registered by name, so a test lists it in the machine's system.ini like any
// driver.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avicap/driver.h"

namespace plat::avicap {

// What a test driver did, shared between the test and every instance made
// from the same plan.
struct TestDriverLog {
    int opens = 0;  // successful opens
    int failedOpens = 0;
    int closes = 0;
    int stopRequests = 0;
    int extraFrames = 0;                             // frames delivered from inside a stop request
    std::vector<Micros> frameTimes;                  // the time of every frame captured
    std::vector<const std::uint8_t *> frameBuffers;  // where each frame was written
};

struct TestDriverPlan {
    std::string description = "Test capture driver";
    std::string version = "Test version 1";
    bool failsToOpen = false;
    DriverCaps caps;
    std::vector<BITMAPINFOHEADER> formats = {makeFormat(320, 240, 24, BI_RGB)};
    // Frames handed out in order, each cut or zero-padded to the frame size;
    // the last one repeats. Without frames, frame n (from 1) is filled with
    // the byte n & 0xFF.
    std::vector<std::vector<std::uint8_t>> frames;
    // While a stream runs, a stop request makes the driver deliver one more
    // frame at once, nested inside the request.
    bool deliversFrameOnStop = false;
    // Dialogs: with realDialogs the driver shows the same modal dialogs as
    // the simulated camera, for a scripted user to answer. Otherwise they
    // answer at once: the source dialog's result, and the format the format
    // dialog picks (negative: the dialog is cancelled).
    bool realDialogs = false;
    bool sourceDialogConfirms = true;
    int formatDialogPicks = -1;
    std::shared_ptr<TestDriverLog> log = std::make_shared<TestDriverLog>();
};

// Registers `plan` under `name` in the current session.
void registerTestDriver(const std::string &name, TestDriverPlan plan);

}  // namespace plat::avicap
