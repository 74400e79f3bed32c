#include "noctil_ccd.h"

#include <libindi/eventloop.h>
#include <libindi/indidriver.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/signals.h"
#include "fits_keys.h"

namespace noctil::indi {

namespace {

constexpr const char *kPortTab = "Port";
constexpr const char *kCaptureTab = "Capture";

// Live frames come at most at the video's own rate.
constexpr double kVideoFrameSeconds = 1.0 / 30;

// A modified CCTV camera's pixel, nominal: the capture device does not say.
constexpr float kNominalPixelMicrons = 6.5f;

enum { kPortDevice, kPortAddress };
enum { kAmplifierOn, kAmplifierOff };
enum { kCaptureDevice, kCaptureInput, kCaptureStandard };

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The port as the driver's saved configuration names it, read before the
// properties exist.
CameraSettings savedPortSettings(const char *device) {
    CameraSettings s;
    char text[MAXINDINAME] = {};
    if (IUGetConfigOnSwitchName(device, "NOCTIL_PORT_BACKEND", text, sizeof text) == 0) s.portBackend = text;
    if (IUGetConfigText(device, "NOCTIL_PORT_DEVICE", "DEVICE", text, sizeof text) == 0) s.portDevice = text;
    if (IUGetConfigText(device, "NOCTIL_PORT_DEVICE", "ADDRESS", text, sizeof text) == 0) s.portAddress = text;
    return s;
}

}  // namespace

NoctilCcd::NoctilCcd() {
    setVersion(1, 0);
    // indiserver ends its drivers with SIGTERM, a person with Ctrl+C: the
    // event loop is woken to end with the lines at rest (a second such
    // signal, or a crash, rests them from the handler).
    IEAddCallback(plat::terminationWakeFd(), &NoctilCcd::signalled, this);
    // Before anything else: a driver killed during an exposure left the
    // camera integrating.
    restPortAtStart(savedPortSettings(getDefaultName()));
}

NoctilCcd::~NoctilCcd() {
    if (runner_) runner_->stop();
}

const char *NoctilCcd::getDefaultName() { return "Noctil CCD"; }

bool NoctilCcd::initProperties() {
    INDI::CCD::initProperties();
    // No subframes, no shutter (a dark is taken as a light: INDI asks the
    // person to cover the telescope), binning 1x1 only.
    SetCCDCapability(CCD_CAN_ABORT | CCD_CAN_BIN | CCD_HAS_STREAMING);
    PrimaryCCD.setMinMaxStep("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 0.001, 36000, 0.001, false);
    PrimaryCCD.setMinMaxStep("CCD_BINNING", "HOR_BIN", 1, 1, 1, false);
    PrimaryCCD.setMinMaxStep("CCD_BINNING", "VER_BIN", 1, 1, 1, false);
    // Grey video gives grey images, colour video three planes: one format.
    addCaptureFormat({"NOCTIL_VIDEO", "8-bit, as the video gives it", 8, true});

    const CameraSettings defaults;
    for (std::size_t i = 0; i < kPortBackends.size(); ++i) {
        const std::string name(kPortBackends[i]);
        portBackendSP_[i].fill(name, name, name == defaults.portBackend ? ISS_ON : ISS_OFF);
    }
    portBackendSP_.fill(getDeviceName(), "NOCTIL_PORT_BACKEND", "Port backend", kPortTab, IP_RW, ISR_1OFMANY, 60,
                        IPS_IDLE);
    portDeviceTP_[kPortDevice].fill("DEVICE", "Device (ppdev, serial)", defaults.portDevice);
    portDeviceTP_[kPortAddress].fill("ADDRESS", "Address (direct I/O)", defaults.portAddress);
    portDeviceTP_.fill(getDeviceName(), "NOCTIL_PORT_DEVICE", "Port device", kPortTab, IP_RW, 60, IPS_IDLE);

    amplifierSP_[kAmplifierOn].fill("AMPLIFIER_ON", "On throughout", defaults.amplifierOff ? ISS_OFF : ISS_ON);
    amplifierSP_[kAmplifierOff].fill("AMPLIFIER_OFF", "Off but the last second",
                                     defaults.amplifierOff ? ISS_ON : ISS_OFF);
    amplifierSP_.fill(getDeviceName(), "NOCTIL_AMPLIFIER", "Amplifier", MAIN_CONTROL_TAB, IP_RW, ISR_1OFMANY, 60,
                      IPS_IDLE);

    // The frame's height decides it, as in the program: shown, not chosen.
    readoutSP_[int(ReadoutMode::WholeFrame)].fill("WHOLE_FRAME", "Whole frames", ISS_ON);
    readoutSP_[int(ReadoutMode::Fields)].fill("FIELDS", "Two fields (480 and 576 lines)", ISS_OFF);
    readoutSP_.fill(getDeviceName(), "NOCTIL_READOUT_MODE", "Readout", kCaptureTab, IP_RO, ISR_1OFMANY, 60, IPS_IDLE);

    captureTP_[kCaptureDevice].fill("DEVICE", "Device", defaults.captureDevice);
    captureTP_[kCaptureInput].fill("INPUT", "Input", defaults.input);
    captureTP_[kCaptureStandard].fill("STANDARD", "Standard", defaults.standard);
    captureTP_.fill(getDeviceName(), "NOCTIL_CAPTURE", "Capture device", kCaptureTab, IP_RW, 60, IPS_IDLE);

    formatSP_.fill(getDeviceName(), "NOCTIL_FORMAT", "Format", kCaptureTab, IP_RW, ISR_1OFMANY, 60, IPS_IDLE);

    levelTP_[0].fill("LEVEL", "Camera lines", "at rest");
    levelTP_.fill(getDeviceName(), "NOCTIL_LINES", "Camera lines", MAIN_CONTROL_TAB, IP_RO, 60, IPS_IDLE);

    addDebugControl();
    addConfigurationControl();
    addPollPeriodControl();
    return true;
}

void NoctilCcd::ISGetProperties(const char *dev) {
    INDI::CCD::ISGetProperties(dev);
    // The port and the capture device are chosen before Connect: they are
    // there while disconnected, with what the configuration saved.
    if (configLoaded_) {
        // Registered at the first call: told again to whoever asks now.
        portBackendSP_.define();
        portDeviceTP_.define();
        captureTP_.define();
    } else {
        defineProperty(portBackendSP_);
        defineProperty(portDeviceTP_);
        defineProperty(captureTP_);
        configLoaded_ = true;
        for (const char *name : {portBackendSP_.getName(), portDeviceTP_.getName(), captureTP_.getName()})
            loadConfig(true, name);
    }
}

bool NoctilCcd::updateProperties() {
    INDI::CCD::updateProperties();
    if (isConnected()) {
        defineProperty(amplifierSP_);
        defineFormats();
        loadConfig(true, formatSP_.getName());
        defineProperty(readoutSP_);
        formatChosen();
        defineProperty(levelTP_);
    } else {
        deleteProperty(amplifierSP_.getName());
        deleteProperty(readoutSP_.getName());
        deleteProperty(formatSP_.getName());
        deleteProperty(levelTP_.getName());
    }
    return true;
}

void NoctilCcd::defineFormats() {
    const std::vector<std::string> names = camera_->formats();
    formatSP_.resize(0);
    for (std::size_t i = 0; i < names.size(); ++i) {
        INDI::WidgetView<ISwitch> item;
        item.fill("FORMAT_" + std::to_string(i), names[i], i == camera_->formatIndex() ? ISS_ON : ISS_OFF);
        formatSP_.push(std::move(item));
    }
    defineProperty(formatSP_);
}

void NoctilCcd::formatChosen() {
    const FrameSize size = camera_->frameSize();
    SetCCDParams(size.width, size.height, 8, kNominalPixelMicrons, kNominalPixelMicrons);
    readoutSP_.reset();
    readoutSP_[int(camera_->readout())].setState(ISS_ON);
    readoutSP_.setState(IPS_OK);
    readoutSP_.apply();
}

bool NoctilCcd::chooseFormat(ISState *states, char *names[], int n) {
    const int was = formatSP_.findOnSwitchIndex();
    formatSP_.update(states, names, n);
    const int index = formatSP_.findOnSwitchIndex();
    if (InExposure || index < 0 || !camera_->selectFormat(std::size_t(index))) {
        formatSP_.reset();
        if (was >= 0) formatSP_[was].setState(ISS_ON);
        formatSP_.setState(IPS_ALERT);
        formatSP_.apply(InExposure ? "The format changes between exposures." : "The device refused the format.");
        return false;
    }
    formatSP_.setState(IPS_OK);
    formatSP_.apply();
    formatChosen();
    saveConfig(true, formatSP_.getName());
    return true;
}

bool NoctilCcd::ISNewSwitch(const char *dev, const char *name, ISState *states, char *names[], int n) {
    if (dev != nullptr && strcmp(dev, getDeviceName()) == 0) {
        if (formatSP_.isNameMatch(name) && camera_) return chooseFormat(states, names, n);
        for (INDI::PropertySwitch *property : {std::addressof(portBackendSP_), std::addressof(amplifierSP_)}) {
            if (!property->isNameMatch(name)) continue;
            // The port is chosen before Connect.
            if (property == std::addressof(portBackendSP_) && isConnected()) {
                property->setState(IPS_ALERT);
                property->apply("Disconnect before choosing another port.");
                return false;
            }
            property->update(states, names, n);
            property->setState(IPS_OK);
            property->apply();
            saveConfig(true, property->getName());
            return true;
        }
    }
    return INDI::CCD::ISNewSwitch(dev, name, states, names, n);
}

bool NoctilCcd::ISNewText(const char *dev, const char *name, char *texts[], char *names[], int n) {
    if (dev != nullptr && strcmp(dev, getDeviceName()) == 0) {
        for (INDI::PropertyText *property : {std::addressof(portDeviceTP_), std::addressof(captureTP_)}) {
            if (!property->isNameMatch(name)) continue;
            if (isConnected()) {
                property->setState(IPS_ALERT);
                property->apply("Disconnect before changing the port or the capture device.");
                return false;
            }
            property->update(texts, names, n);
            property->setState(IPS_OK);
            property->apply();
            saveConfig(true, property->getName());
            return true;
        }
    }
    return INDI::CCD::ISNewText(dev, name, texts, names, n);
}

CameraSettings NoctilCcd::settingsFromProperties() const {
    CameraSettings s;
    const int backend = portBackendSP_.findOnSwitchIndex();
    if (backend >= 0) s.portBackend = kPortBackends[backend];
    s.portDevice = portDeviceTP_[kPortDevice].getText();
    s.portAddress = portDeviceTP_[kPortAddress].getText();
    s.amplifierOff = amplifierSP_.findOnSwitchIndex() == kAmplifierOff;
    s.captureDevice = captureTP_[kCaptureDevice].getText();
    s.input = captureTP_[kCaptureInput].getText();
    s.standard = captureTP_[kCaptureStandard].getText();
    return s;
}

bool NoctilCcd::Connect() {
    std::string failure;
    camera_ = connectCamera(settingsFromProperties(), failure);
    if (!camera_) {
        LOGF_ERROR("The camera cannot be used: %s", failure.c_str());
        return false;
    }
    runner_ = std::make_unique<ExposureRunner>(*camera_);
    runnerCallback_ = IEAddCallback(runner_->eventFd(), &NoctilCcd::runnerReadable, this);
    SetTimer(getCurrentPollingPeriod());
    return true;
}

bool NoctilCcd::Disconnect() {
    live_.reset();
    if (runner_) runner_->stop();
    if (runnerCallback_ >= 0) IERmCallback(runnerCallback_);
    runnerCallback_ = -1;
    runner_.reset();
    // Letting the camera go leaves its lines at rest.
    camera_.reset();
    InExposure = false;
    return true;
}

bool NoctilCcd::StartExposure(float duration) {
    if (!runner_) return false;
    if (live_) {
        LOG_ERROR("The camera takes exposures when the video is off.");
        return false;
    }
    ExposureRequest request;
    request.length = std::llround(double(duration) * 1e6);
    request.amplifierOff = amplifierSP_.findOnSwitchIndex() == kAmplifierOff;
    PrimaryCCD.setExposureDuration(duration);
    if (!runner_->start(request)) {
        LOG_ERROR("An exposure is running already.");
        return false;
    }
    exposureStarted_ = std::chrono::steady_clock::now();
    ExposureTime = duration;
    InExposure = true;
    return true;
}

bool NoctilCcd::StartStreaming() {
    if (!camera_ || InExposure) {
        LOG_ERROR("The video starts between exposures.");
        return false;
    }
    // At most the video's own rate; slower when the client asks for longer frames.
    const double seconds = std::max(Streamer->getTargetExposure(), kVideoFrameSeconds);
    livePlanes_ = 0;
    live_ = std::make_unique<LiveVideo>(liveClock_, plat::Micros(seconds * 1e6), [this] { sendLiveFrame(); });
    return true;
}

bool NoctilCcd::StopStreaming() {
    live_.reset();
    return true;
}

void NoctilCcd::sendLiveFrame() {
    const Image image = camera_->liveImage();
    if (image.width == 0) return;
    if (image.planes != livePlanes_) {
        livePlanes_ = image.planes;
        Streamer->setPixelFormat(image.planes == 3 ? INDI_RGB : INDI_MONO, 8);
        Streamer->setSize(std::uint16_t(image.width), std::uint16_t(image.height));
    }
    if (image.planes == 3) {
        const std::vector<std::uint8_t> rgb = interleaved(image);
        Streamer->newFrame(rgb.data(), std::uint32_t(rgb.size()));
    } else {
        Streamer->newFrame(image.samples.data(), std::uint32_t(image.samples.size()));
    }
}

bool NoctilCcd::AbortExposure() {
    if (runner_) runner_->abort();
    InExposure = false;
    return true;
}

void NoctilCcd::TimerHit() {
    if (!isConnected()) return;
    if (InExposure) PrimaryCCD.setExposureLeft(std::max(0.0, ExposureTime - secondsSince(exposureStarted_)));
    SetTimer(getCurrentPollingPeriod());
}

void NoctilCcd::signalled(int, void *self) {
    plat::drainTerminationWake();
    const int signal = plat::terminationSignal();
    if (signal == 0) return;
    auto *ccd = static_cast<NoctilCcd *>(self);
    if (ccd->runner_) ccd->runner_->stop();
    ccd->camera_.reset();
    // Said to the clients, which have lost the camera.
    DEBUGFDEVICE(ccd->getDeviceName(), INDI::Logger::DBG_SESSION, "Ended by signal %d, the camera's lines at rest.",
                 signal);
    std::exit(0);
}

void NoctilCcd::runnerReadable(int, void *self) { static_cast<NoctilCcd *>(self)->takeRunnerEvents(); }

void NoctilCcd::takeRunnerEvents() {
    if (!runner_) return;
    for (RunnerEvent &event : runner_->takeEvents()) {
        switch (event.kind) {
        case RunnerEvent::Kind::Integrating: showLevel("integrating"); break;
        case RunnerEvent::Kind::ReadingOut: showLevel("reading out"); break;
        case RunnerEvent::Kind::Finished: exposureEnded(std::move(*event.outcome)); break;
        }
    }
}

void NoctilCcd::showLevel(const char *level) {
    levelTP_[0].setText(level);
    levelTP_.setState(IPS_OK);
    levelTP_.apply();
}

void NoctilCcd::exposureEnded(ExposureOutcome outcome) {
    showLevel("at rest");
    // An exposure aborted was told so by INDI already; one that ended after
    // an abort that came too late for it is not sent either.
    if (outcome.end == ExposureOutcome::End::Aborted || !InExposure) return;
    InExposure = false;
    if (outcome.end == ExposureOutcome::End::Failed) {
        LOGF_ERROR("The exposure failed: %s", outcome.failure.c_str());
        PrimaryCCD.setExposureFailed();
        return;
    }
    {
        // INDI writes and sends the image on a thread of its own, holding
        // this lock while it reads the buffer and the header's keys.
        std::lock_guard guard(ccdBufferLock);
        const Image &image = outcome.image;
        // The frame's size is the format's (CCD_INFO, CCD_FRAME).
        PrimaryCCD.setNAxis(image.planes == 3 ? 3 : 2);
        PrimaryCCD.setFrameBufferSize(static_cast<std::uint32_t>(image.samples.size()));
        std::memcpy(PrimaryCCD.getFrameBuffer(), image.samples.data(), image.samples.size());
        sending_ = std::move(outcome);
    }
    PrimaryCCD.setExposureLeft(0);
    ExposureComplete(&PrimaryCCD);
}

bool NoctilCcd::UpdateCCDFrame(int x, int y, int w, int h) {
    // The whole frame only: the capture device's format sets its size.
    if (x != 0 || y != 0 || w != PrimaryCCD.getXRes() || h != PrimaryCCD.getYRes()) return false;
    return INDI::CCD::UpdateCCDFrame(x, y, w, h);
}

bool NoctilCcd::UpdateCCDBin(int hor, int ver) {
    if (hor != 1 || ver != 1) {
        LOG_ERROR("The camera reads out at 1x1 only.");
        return false;
    }
    return INDI::CCD::UpdateCCDBin(hor, ver);
}

bool NoctilCcd::UpdateCCDFrameType(INDI::CCDChip::CCD_FRAME type) {
    // Every type is taken as a light; the header says which was asked for.
    PrimaryCCD.setFrameType(type);
    return true;
}

void NoctilCcd::addFITSKeywords(INDI::CCDChip *chip) {
    INDI::CCD::addFITSKeywords(chip);
    // Called with ccdBufferLock held (INDI's image thread).
    if (!sending_) return;
    int status = 0;
    const bool dark = chip->getFrameType() == INDI::CCDChip::DARK_FRAME;
    if (!writeExposureKeys(*chip->fitsFilePointer(), *sending_, dark, status))
        LOGF_ERROR("The exposure's FITS keys could not be written (cfitsio status %d).", status);
}

bool NoctilCcd::saveConfigItems(FILE *fp) {
    INDI::CCD::saveConfigItems(fp);
    IUSaveConfigSwitch(fp, &portBackendSP_);
    IUSaveConfigText(fp, &portDeviceTP_);
    IUSaveConfigSwitch(fp, &amplifierSP_);
    if (formatSP_.size() > 0) IUSaveConfigSwitch(fp, &formatSP_);
    IUSaveConfigText(fp, &captureTP_);
    return true;
}

}  // namespace noctil::indi
