#include "display/status_line.h"

#include <cstdio>
#include <cstring>
#include <system_error>

#include "avifile/avi_library.h"
#include "core/session.h"
#include "port/parallel_port.h"
#include "user/window_system.h"

namespace plat::status {

namespace {

constexpr std::uint8_t kRest = 0x00, kExpose = 0x0B, kExposeAmpOff = 0x0F, kReadout = 0x08, kReadout480 = 0x09;
constexpr const char *kSeparator = "  |  ";

std::string format(const char *pattern, auto... args) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, pattern, args...);
    return buffer;
}

std::string portPhrase(const Facts &f) {
    if (!f.port) return "at rest";
    const std::string held = duration(f.now - f.port->since);
    switch (f.port->value) {
        case kRest: return "at rest";
        case kExposeAmpOff: return "integrating, amplifier off - " + held;
        case kExpose: return "integrating, amplifier on - " + held;
        case kReadout:
        case kReadout480: return "reading out";
        default: return format("port lines at 0x%02X - %s", f.port->value, held.c_str());
    }
}

// What the window's next timer will bring, told by what the lines do now.
std::string nextStepPhrase(const Facts &f) {
    const std::uint8_t level = f.port ? f.port->value : kRest;
    const char *step = level == kExposeAmpOff ? "amplifier on"
                       : level == kExpose     ? "readout"
                       : level == kRest       ? "next exposure"
                                              : "next step";
    if (*f.nextStepDue <= f.now) return std::string(step) + " due now";
    return std::string(step) + " in " + duration(*f.nextStepDue - f.now);
}

std::string imagesPhrase(const OutputFacts &o) {
    const char *noun = o.frames == 1 ? "image" : "images";
    if (o.limit) return format("%u of %u %s written to ", o.frames, *o.limit, *o.limit == 1 ? "image" : "images") + o.name;
    if (o.open && o.frames == 0) return "recording to " + o.name + ", no image yet";
    return format("%u %s written to ", o.frames, noun) + o.name;
}

// The drive's free space, and whether the rest of the run fits in it.
std::string spacePhrase(const OutputFacts &o, bool &warning) {
    const std::uint64_t room = o.frameBytes ? *o.freeBytes / o.frameBytes : 0;
    if (o.limit && *o.limit > o.frames) {
        const std::uint64_t toCome = *o.limit - o.frames;
        if (room < toCome) {
            warning = true;
            return format("WARNING: %s free, room for %llu of the %llu images still to come", bytes(*o.freeBytes).c_str(),
                          static_cast<unsigned long long>(room), static_cast<unsigned long long>(toCome));
        }
    }
    if (!o.frameBytes) return bytes(*o.freeBytes) + " free";
    return format("%s free, room for %llu %s", bytes(*o.freeBytes).c_str(), static_cast<unsigned long long>(room),
                  room == 1 ? "image" : "images");
}

}  // namespace

std::string duration(Micros span) {
    if (span < 0) span = 0;
    const long long tenths = static_cast<long long>(span / 100'000);
    if (tenths < 600) return format("%lld.%lld s", tenths / 10, tenths % 10);
    const long long seconds = tenths / 10;
    if (seconds < 3600) return format("%lld min %02lld s", seconds / 60, seconds % 60);
    return format("%lld h %02lld min", seconds / 3600, seconds / 60 % 60);
}

std::string bytes(std::uint64_t count) {
    constexpr double kKilo = 1024.0;
    const double value = static_cast<double>(count);
    if (value < kKilo * kKilo) return format("%llu KB", static_cast<unsigned long long>((count + 1023) / 1024));
    if (value < kKilo * kKilo * kKilo) return format("%.1f MB", value / (kKilo * kKilo));
    return format("%.1f GB", value / (kKilo * kKilo * kKilo));
}

Line compose(const Facts &facts) {
    Line line;
    line.camera = portPhrase(facts);
    if (facts.nextStepDue) line.camera += kSeparator + nextStepPhrase(facts);
    if (facts.output) {
        line.output = imagesPhrase(*facts.output);
        if (facts.output->open && facts.output->freeBytes)
            line.output += kSeparator + spacePhrase(*facts.output, line.warning);
    }
    line.text = line.output.empty() ? line.camera : line.camera + kSeparator + line.output;
    return line;
}

// ---- Gathering ----------------------------------------------------------------------

namespace {

std::optional<PortFacts> portFacts() {
    const ParallelPort *port = session().findComponent<ParallelPort>();
    if (!port) return std::nullopt;
    const auto writes = port->writes();
    std::optional<PortFacts> out;
    // The level has been held since the first of the newest run of writes of it.
    for (auto it = writes.rbegin(); it != writes.rend(); ++it) {
        if (it->address != ParallelPort::kDataRegister) continue;
        if (out && it->value != out->value) break;
        out = PortFacts{it->value, it->time};
    }
    return out;
}

// The run's limit as the program shows it in a window title:
// "<file> - <written>/<limit>".
std::optional<std::uint32_t> limitShownFor(const std::string &name) {
    const std::string prefix = name + " - ";
    for (HWND window : user::topLevelWindows()) {
        const user::Window *w = user::find(window);
        if (!w || w->text.compare(0, prefix.size(), prefix) != 0) continue;
        unsigned written = 0, limit = 0;
        char rest = 0;
        if (std::sscanf(w->text.c_str() + prefix.size(), "%u/%u%c", &written, &limit, &rest) == 2 && limit > 0)
            return limit;
    }
    return std::nullopt;
}

}  // namespace

Facts Watcher::gather(HWND window) {
    Facts facts;
    facts.now = session().clock().now();
    facts.port = portFacts();
    facts.nextStepDue = user::nextTimerDueOf(window);

    const std::vector<avi::FileBeingWritten> files = avi::filesBeingWritten();
    if (!files.empty()) {
        const avi::FileBeingWritten &file = files.back();
        const bool changed = !output_ || !output_->open || output_->name != file.name || output_->frames != file.frames;
        if (!output_ || output_->name != file.name) output_ = OutputFacts{};
        output_->name = file.name;
        output_->frames = file.frames;
        output_->frameBytes = file.frameBytes;
        output_->open = true;
        path_ = file.path;
        if (changed || facts.now - spaceCheckedAt_ >= 1'000'000 || !output_->freeBytes) {
            spaceCheckedAt_ = facts.now;
            std::error_code error;
            const std::filesystem::space_info space = std::filesystem::space(path_.parent_path(), error);
            output_->freeBytes = error ? std::nullopt : std::optional<std::uint64_t>(space.available);
        }
    } else if (output_) {
        output_->open = false;
    }
    if (output_) {
        if (const auto limit = limitShownFor(output_->name)) output_->limit = limit;
        facts.output = output_;
    }
    return facts;
}

}  // namespace plat::status
