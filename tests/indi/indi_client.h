// A small INDI client for the driver's end-to-end tests: it records what the
// server tells of one device, "Noctil CCD" unless told another (each image
// with its FITS keys, live video frames, the camera lines, the exposure's
// state, the properties defined, the messages) and lets a test wait, with a
// deadline, until what it expects has arrived.
#pragma once

#include <libindi/baseclient.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace noctil::test {

inline constexpr const char *kDevice = "Noctil CCD";

// The keys of one image the client received, as the FITS header wrote them.
struct ReceivedImage {
    std::map<std::string, std::string> keys;  // values as written, quotes and blanks removed
    int axes = 0;
    long width = 0, height = 0;
};

class IndiClient : public INDI::BaseClient {
public:
    IndiClient(const char *name, int port, const char *device = kDevice);
    ~IndiClient() override;

    // Connects and watches the device; false when the server does not answer.
    bool start();

    // Waits until `ready` holds for what was recorded, at most `limit`; the
    // recorder is locked while `ready` runs.
    bool waitUntil(const std::function<bool()> &ready, std::chrono::milliseconds limit);

    // Under the recorder's lock (inside waitUntil), or after it returned.
    const std::vector<ReceivedImage> &images() const { return images_; }
    const std::string &lines() const { return lines_; }
    int lineChanges(const std::string &level) const;
    bool defined(const std::string &property) const { return defined_.count(property) > 0; }
    int definitions(const std::string &property) const;
    IPState exposureState() const { return exposureState_; }
    // The camera connected, as CONNECTION last said.
    bool connected() const { return connected_; }
    // Frames of live video received.
    int videoFrames() const { return videoFrames_; }
    // The names of the properties the device has defined.
    const std::set<std::string> &properties() const { return defined_; }
    // The device's messages, as its log told them.
    const std::vector<std::string> &messages() const { return messages_; }
    std::string name() const { return name_; }

    // Property changes, sent as a person's client sends them.
    void setSwitch(const char *property, const char *element);
    void setNumber(const char *property, const char *element, double value);
    void setText(const char *property, const char *element, const char *text);

protected:
    void newDevice(INDI::BaseDevice device) override;
    void newProperty(INDI::Property property) override;
    void updateProperty(INDI::Property property) override;
    void newMessage(INDI::BaseDevice device, int id) override;

private:
    void record(INDI::Property property);

    std::string name_;
    std::string device_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ReceivedImage> images_;
    std::string lines_;
    std::map<std::string, int> lineChanges_;
    std::set<std::string> defined_;
    std::map<std::string, int> definitions_;
    IPState exposureState_ = IPS_IDLE;
    int videoFrames_ = 0;
    bool connected_ = false;
    std::vector<std::string> messages_;
};

// The FITS keys and axes of an image file held in memory.
bool readFitsHeader(const void *data, std::size_t size, ReceivedImage &image);

}  // namespace noctil::test
