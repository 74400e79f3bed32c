// The camera as an INDI CCD ("Noctil CCD"): INDI's standard CCD properties,
// Noctil's own for the port and the capture device, and exposures on the
// program's engine, whose port times go into the FITS header.
#pragma once

#include <libindi/indiccd.h>
#include <libindi/indipropertyswitch.h>
#include <libindi/indipropertytext.h>

#include <chrono>
#include <memory>
#include <optional>

#include "camera_factory.h"
#include "camera_settings.h"
#include "core/signals.h"
#include "exposure_runner.h"
#include "live_video.h"

namespace noctil::indi {

class NoctilCcd : public INDI::CCD {
public:
    NoctilCcd();
    ~NoctilCcd() override;

    bool initProperties() override;
    bool updateProperties() override;
    void ISGetProperties(const char *dev) override;
    bool ISNewSwitch(const char *dev, const char *name, ISState *states, char *names[], int n) override;
    bool ISNewText(const char *dev, const char *name, char *texts[], char *names[], int n) override;

protected:
    const char *getDefaultName() override;
    bool Connect() override;
    bool Disconnect() override;
    bool StartExposure(float duration) override;
    bool AbortExposure() override;
    bool StartStreaming() override;
    bool StopStreaming() override;
    void TimerHit() override;
    bool UpdateCCDFrame(int x, int y, int w, int h) override;
    bool UpdateCCDBin(int hor, int ver) override;
    bool UpdateCCDFrameType(INDI::CCDChip::CCD_FRAME type) override;
    void addFITSKeywords(INDI::CCDChip *chip) override;
    bool saveConfigItems(FILE *fp) override;

private:
    // The runner's events, on the event loop's thread.
    static void runnerReadable(int fd, void *self);
    // A signal asked the driver to end.
    static void signalled(int fd, void *self);
    void takeRunnerEvents();
    void exposureEnded(ExposureOutcome outcome);
    void showLevel(const char *level);
    // One frame of live video to the stream (the live thread).
    void sendLiveFrame();
    void defineFormats();
    // The format in use is told: its size, its readout.
    void formatChosen();
    bool chooseFormat(ISState *states, char *names[], int n);
    CameraSettings settingsFromProperties() const;

    plat::SignalHandlers signals_;
    std::unique_ptr<ConnectedCamera> camera_;
    std::unique_ptr<ExposureRunner> runner_;
    plat::RealClock liveClock_;
    std::unique_ptr<LiveVideo> live_;
    int livePlanes_ = 0;
    int runnerCallback_ = -1;
    // The outcome whose image ExposureComplete is sending: its keys go into
    // the header.
    std::optional<ExposureOutcome> sending_;
    std::chrono::steady_clock::time_point exposureStarted_;
    bool configLoaded_ = false;

    INDI::PropertySwitch portBackendSP_{kPortBackends.size()};
    INDI::PropertyText portDeviceTP_{2};
    INDI::PropertySwitch amplifierSP_{2};
    INDI::PropertySwitch readoutSP_{2};
    INDI::PropertyText captureTP_{3};
    INDI::PropertySwitch formatSP_{0};
    INDI::PropertyText levelTP_{1};
};

}  // namespace noctil::indi
