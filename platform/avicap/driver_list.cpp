// The driver registry, the machine's list of installed capture drivers and
// their descriptions.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include <vfw.h>

#include "avicap/driver.h"
#include "avicap/installed_simcam.h"
#include "avicap/v4l2/v4l2_driver.h"
#include "avicap/video_devices.h"
#include "core/session.h"
#include "files/paths.h"
#include "port/parallel_port.h"
#include "profile/ini_file.h"

namespace plat::avicap {

namespace {

std::string lowerCase(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

// Factories known in this session, and the driver list resolved from the
// configuration the first time it is needed after a registration.
class DriverRegistry {
public:
    // The port must outlive every open driver that watches it: the session
    // made it first, so it is destroyed after this registry, which closes them.
    DriverRegistry(Clock &clock, ParallelPort &port) {
        factories_["simcam"] = [&clock, &port] { return makeInstalledSimulatedCamera(clock, port); };
    }

    ~DriverRegistry() {
        for (const auto &weak : open_)
            if (auto driver = weak.lock()) driver->close();
    }

    void add(std::string name, DriverFactory factory) {
        factories_[lowerCase(name)] = std::move(factory);
        resolved_.reset();
    }

    const std::string &nameAt(int index) {
        if (!resolved_) resolve();
        return (*resolved_)[static_cast<std::size_t>(index)];
    }

    std::unique_ptr<Driver> make(int index) {
        const std::string &name = nameAt(index);
        if (name.empty()) return nullptr;
        return factories_.at(lowerCase(name))();
    }

    std::shared_ptr<Driver> open(int index, std::string *failure) {
        std::unique_ptr<Driver> made = make(index);
        if (!made) return nullptr;
        if (!made->open()) {
            if (failure) *failure = made->failure();
            return nullptr;
        }
        std::shared_ptr<Driver> driver(made.release(), [](Driver *d) {
            d->close();
            delete d;
        });
        std::erase_if(open_, [](const std::weak_ptr<Driver> &w) { return w.expired(); });
        open_.push_back(driver);
        return driver;
    }

private:
    // Reads [drivers32] msvideo (index 0) and msvideo1 .. msvideo9. A
    // configuration that names no driver at all (no file, no section) gets
    // the simulated camera at index 0; an empty value leaves its index empty.
    void resolve() {
        resolved_.emplace();
        const auto file = windowsDirectory() / "system.ini";
        bool anyConfigured = false;
        for (int i = 0; i < kMaxDrivers; ++i) {
            const std::string key = i == 0 ? "msvideo" : "msvideo" + std::to_string(i);
            const std::optional<std::string> value = readIniValue(file, "drivers32", key);
            if (!value) continue;
            anyConfigured = true;
            const std::string name = trimmed(*value);
            if (name.empty()) continue;
            if (!factories_.count(lowerCase(name))) {
                if (warned_.insert(key + "=" + name).second)
                    std::fprintf(stderr, "capture drivers: %s [drivers32] %s=%s names no known driver; not listed\n",
                                 file.string().c_str(), key.c_str(), name.c_str());
                continue;
            }
            (*resolved_)[static_cast<std::size_t>(i)] = name;
        }
        if (!anyConfigured) (*resolved_)[0] = std::string(kDefaultDriverName);
        listVideoDevices();
    }

    // The machine's V4L2 capture devices take the free indexes after the
    // configured drivers. Indexes 4, 5, 8 and 9 stay free: a program's menu
    // ids of those driver entries are the ids of its fixed Options commands.
    void listVideoDevices() {
        const std::shared_ptr<v4l2::Io> io = v4l2::sessionIo();
        int next = 0;
        for (int i = 0; i < kMaxDrivers; ++i)
            if (!(*resolved_)[static_cast<std::size_t>(i)].empty()) next = i + 1;
        for (v4l2::DeviceListing &device : v4l2::listDevices(*io)) {
            while (next < kMaxDrivers && (next == 4 || next == 5 || next == 8 || next == 9)) ++next;
            if (next >= kMaxDrivers) {
                std::fprintf(stderr, "capture drivers: no free index for %s (%s); not listed\n", device.node.c_str(),
                             device.description.c_str());
                continue;
            }
            const std::string name = "v4l2:" + device.node;
            factories_[lowerCase(name)] = [io, device] { return v4l2::makeV4l2Driver(io, device, session().clock()); };
            (*resolved_)[static_cast<std::size_t>(next++)] = name;
        }
    }

    std::map<std::string, DriverFactory> factories_;
    std::optional<std::array<std::string, kMaxDrivers>> resolved_;
    std::set<std::string> warned_;
    std::vector<std::weak_ptr<Driver>> open_;  // drivers handed out, closed at the end
};

// The session's registry: the Win32 capture calls (capGetDriverDescriptionA,
// the capture window) share one list of the machine's drivers per process.
DriverRegistry &registry() {
    Session &s = session();
    if (DriverRegistry *made = s.findComponent<DriverRegistry>()) return *made;
    return s.emplace<DriverRegistry>(s.clock(), s.component<ParallelPort>());
}

}  // namespace

void registerDriverFactory(std::string name, DriverFactory factory) {
    registry().add(std::move(name), std::move(factory));
}

std::string installedDriverName(int index) {
    if (index < 0 || index >= kMaxDrivers) return {};
    return registry().nameAt(index);
}

std::unique_ptr<Driver> makeInstalledDriver(int index) {
    if (index < 0 || index >= kMaxDrivers) return nullptr;
    return registry().make(index);
}

std::shared_ptr<Driver> openInstalledDriver(int index, std::string *failure) {
    if (index < 0 || index >= kMaxDrivers) return nullptr;
    return registry().open(index, failure);
}

}  // namespace plat::avicap

extern "C" BOOL WINAPI capGetDriverDescriptionA(UINT driverIndex, LPSTR name, int nameSize, LPSTR version,
                                                int versionSize) {
    using namespace plat::avicap;
    if (driverIndex >= static_cast<UINT>(kMaxDrivers)) return FALSE;
    std::unique_ptr<Driver> driver = makeInstalledDriver(static_cast<int>(driverIndex));
    if (!driver) return FALSE;
    const auto copy = [](const std::string &text, LPSTR buffer, int size) {
        if (!buffer || size <= 0) return;
        const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(size) - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    };
    copy(driver->description(), name, nameSize);
    copy(driver->version(), version, versionSize);
    return TRUE;
}
