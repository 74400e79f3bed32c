#include "indi_client.h"

#include <fitsio.h>
#include <libindi/basedevice.h>
#include <libindi/indipropertyblob.h>
#include <libindi/indipropertyswitch.h>
#include <libindi/indipropertytext.h>

#include <cstring>

namespace noctil::test {

namespace {

// A header card's value without its quotes and trailing blanks.
std::string bareValue(const char *value) {
    std::string v(value);
    if (v.size() >= 2 && v.front() == '\'' && v.back() == '\'') v = v.substr(1, v.size() - 2);
    while (!v.empty() && v.back() == ' ') v.pop_back();
    return v;
}

}  // namespace

bool readFitsHeader(const void *data, std::size_t size, ReceivedImage &image) {
    void *memory = const_cast<void *>(data);  // read only: cfitsio's memory files take a plain pointer
    std::size_t memorySize = size;
    fitsfile *file = nullptr;
    int status = 0;
    if (fits_open_memfile(&file, "image.fits", READONLY, &memory, &memorySize, 0, nullptr, &status)) return false;
    int cards = 0;
    fits_get_hdrspace(file, &cards, nullptr, &status);
    for (int i = 1; i <= cards && status == 0; ++i) {
        char name[FLEN_KEYWORD] = {}, value[FLEN_VALUE] = {}, comment[FLEN_COMMENT] = {};
        fits_read_keyn(file, i, name, value, comment, &status);
        if (status == 0 && value[0] != '\0') image.keys[name] = bareValue(value);
    }
    long axes[3] = {};
    fits_get_img_dim(file, &image.axes, &status);
    fits_get_img_size(file, 3, axes, &status);
    image.width = axes[0];
    image.height = axes[1];
    int ignored = 0;  // a file only read has nothing to lose at its close
    fits_close_file(file, &ignored);
    return status == 0;
}

IndiClient::IndiClient(const char *name, int port, const char *device) : name_(name), device_(device) {
    setServer("127.0.0.1", port);
}

IndiClient::~IndiClient() { disconnectServer(); }

bool IndiClient::start() {
    watchDevice(device_.c_str());
    if (!connectServer()) return false;
    setBLOBMode(B_ALSO, device_.c_str(), nullptr);
    return true;
}

bool IndiClient::waitUntil(const std::function<bool()> &ready, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, ready);
}

int IndiClient::lineChanges(const std::string &level) const {
    const auto it = lineChanges_.find(level);
    return it == lineChanges_.end() ? 0 : it->second;
}

int IndiClient::definitions(const std::string &property) const {
    const auto it = definitions_.find(property);
    return it == definitions_.end() ? 0 : it->second;
}

void IndiClient::setSwitch(const char *property, const char *element) {
    // libindi's client would send the element on beside the others as they
    // were (a stream switched off would come on again): one of many is sent
    // with the others off, as a person's client does.
    auto switches = getDevice(device_.c_str()).getSwitch(property);
    if (switches == nullptr || switches->findWidgetByName(element) == nullptr) return;
    switches->reset();
    switches->findWidgetByName(element)->setState(ISS_ON);
    sendNewSwitch(switches);
}

void IndiClient::setNumber(const char *property, const char *element, double value) {
    sendNewNumber(device_.c_str(), property, element, value);
}

void IndiClient::setText(const char *property, const char *element, const char *text) {
    sendNewText(device_.c_str(), property, element, text);
}

void IndiClient::newDevice(INDI::BaseDevice) {
    // BLOBs are asked for again for a device the server sees anew (a driver
    // that was restarted).
    setBLOBMode(B_ALSO, device_.c_str(), nullptr);
}

void IndiClient::newProperty(INDI::Property property) {
    {
        std::lock_guard lock(mutex_);
        defined_.insert(property.getName());
        ++definitions_[property.getName()];
    }
    record(property);
}

void IndiClient::updateProperty(INDI::Property property) { record(property); }

void IndiClient::newMessage(INDI::BaseDevice device, int id) {
    std::lock_guard lock(mutex_);
    messages_.push_back(device.messageQueue(id));
    changed_.notify_all();
}

void IndiClient::record(INDI::Property property) {
    std::lock_guard lock(mutex_);
    const std::string name = property.getName();
    if (name == "CCD1" && property.getType() == INDI_BLOB) {
        INDI::PropertyBlob blob(property);
        ReceivedImage image;
        // Live video comes in the same BLOB as the images, as ".stream" frames.
        if (blob.size() > 0 && std::string(blob[0].getFormat()).rfind(".stream", 0) == 0)
            ++videoFrames_;
        else if (blob.size() > 0 && blob[0].getBlobLen() > 0 &&
                 readFitsHeader(blob[0].getBlob(), std::size_t(blob[0].getBlobLen()), image))
            images_.push_back(std::move(image));
    } else if (name == "NOCTIL_LINES") {
        INDI::PropertyText text(property);
        lines_ = text[0].getText();
        ++lineChanges_[lines_];
    } else if (name == "CONNECTION") {
        INDI::PropertySwitch connection(property);
        const auto *connect = connection.findWidgetByName("CONNECT");
        connected_ = connect != nullptr && connect->getState() == ISS_ON;
    } else if (name == "CCD_EXPOSURE") {
        exposureState_ = property.getState();
    }
    changed_.notify_all();
}

}  // namespace noctil::test
