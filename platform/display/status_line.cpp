#include "display/status_line.h"

#include <camport.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "core/session.h"
#include "display/status_line_feed.h"
#include "user/window_system.h"

namespace plat::status {

namespace {

constexpr std::uint8_t kRest = PORT_IDLE, kExpose = PORT_EXPOSE, kExposeAmpOff = PORT_EXPOSE_AMPOFF,
                       kReadout = PORT_READOUT, kReadout480 = PORT_READOUT_480;
constexpr const char *kSeparator = "  |  ";
// While the program's Pause is on, images are taken and shown but none is
// written: a run that seems to go on writes nothing, so the line says so.
constexpr const char *kPausedPhrase = "paused: images are shown, not written";

// Appends to `out`: once its room has grown to a line's length, composing
// the line again takes no heap block.
void appendf(std::string &out, const char *pattern, auto... args) {
    char buffer[160];
    const int n = std::snprintf(buffer, sizeof buffer, pattern, args...);
    if (n > 0) out.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
}

void appendDuration(std::string &out, Micros span) {
    if (span < 0) span = 0;
    const long long tenths = static_cast<long long>(span / 100'000);
    if (tenths < 600) return appendf(out, "%lld.%lld s", tenths / 10, tenths % 10);
    const long long seconds = tenths / 10;
    if (seconds < 3600) return appendf(out, "%lld min %02lld s", seconds / 60, seconds % 60);
    appendf(out, "%lld h %02lld min", seconds / 3600, seconds / 60 % 60);
}

void appendBytes(std::string &out, std::uint64_t count) {
    constexpr double kKilo = 1024.0;
    const double value = static_cast<double>(count);
    if (value < kKilo * kKilo) return appendf(out, "%llu KB", static_cast<unsigned long long>((count + 1023) / 1024));
    if (value < kKilo * kKilo * kKilo) return appendf(out, "%.1f MB", value / (kKilo * kKilo));
    appendf(out, "%.1f GB", value / (kKilo * kKilo * kKilo));
}

void appendPortPhrase(std::string &out, const Facts &f) {
    if (!f.port) return void(out += "at rest");
    // The level asked for is not what the camera does while the port is lost.
    if (!f.port->lost.empty()) {
        out += "camera not controlled (";
        out += f.port->lost;
        return void(out += ')');
    }
    const Micros held = f.now - f.port->since;
    switch (f.port->value) {
    case kRest: out += "at rest"; return;
    case kExposeAmpOff: out += "integrating, amplifier off - "; return appendDuration(out, held);
    case kExpose: out += "integrating, amplifier on - "; return appendDuration(out, held);
    case kReadout:
    case kReadout480: out += "reading out"; return;
    default: appendf(out, "port lines at 0x%02X - ", f.port->value); return appendDuration(out, held);
    }
}

// What the window's next timer will bring, told by what the lines do now.
void appendNextStepPhrase(std::string &out, const Facts &f) {
    const std::uint8_t level = f.port ? f.port->value : kRest;
    out += level == kExposeAmpOff ? "amplifier on"
           : level == kExpose     ? "readout"
           : level == kRest       ? "next exposure"
                                  : "next step";
    if (*f.nextStepDue <= f.now) return void(out += " due now");
    out += " in ";
    appendDuration(out, *f.nextStepDue - f.now);
}

void appendImagesPhrase(std::string &out, const OutputFacts &o) {
    if (o.limit) {
        appendf(out, "%u of %u %s written to ", o.frames, *o.limit, *o.limit == 1 ? "image" : "images");
    } else if (o.open && o.frames == 0) {
        out += "recording to ";
        out += o.name;
        return void(out += ", no image yet");
    } else {
        appendf(out, "%u %s written to ", o.frames, o.frames == 1 ? "image" : "images");
    }
    out += o.name;
}

// The image log fell behind on a full disk: its lines wait, whole, and go
// to the file once there is room. When it has caught up, the line says at
// what time, so that a morning's look tells of a gap in the night.
void appendLogPhrase(std::string &out, const OutputFacts &o, bool &warning) {
    if (o.logLinesWaiting > 0) {
        warning = true;
        return appendf(out, "%simage log behind: %u %s waiting for room on the disk", kSeparator, o.logLinesWaiting,
                       o.logLinesWaiting == 1 ? "line" : "lines");
    }
    // The log ended with no room for them: they are in its side file.
    if (o.logLinesKept > 0) {
        warning = true;
        return appendf(out, "%simage log: %u %s kept in the .waiting file beside it", kSeparator, o.logLinesKept,
                       o.logLinesKept == 1 ? "line" : "lines");
    }
    if (!o.logCaughtUp) return;
    const long long secondOfDay = (*o.logCaughtUp / 1'000'000) % 86'400;
    appendf(out, "%simage log caught up at %02lld:%02lld:%02lld UTC", kSeparator, secondOfDay / 3600,
            secondOfDay / 60 % 60, secondOfDay % 60);
}

// The system slept during exposures: the camera went on integrating, so
// those images are longer than set (the image log tells by how much).
void appendSuspendPhrase(std::string &out, const OutputFacts &o, bool &warning) {
    if (o.suspendedImages == 0) return;
    warning = true;
    appendf(out, ", %u %s exposed through a system suspend", o.suspendedImages,
            o.suspendedImages == 1 ? "image" : "images");
}

// Readouts of the run that gave no image, beside the images written.
void appendWithoutImagePhrase(std::string &out, const OutputFacts &o, bool &warning) {
    if (o.withoutImage == 0) return;
    warning = true;
    appendf(out, ", %u %s without an image", o.withoutImage, o.withoutImage == 1 ? "readout" : "readouts");
    // A reason that no longer holds (the device is back) has been cleared.
    if (o.noImageReason.empty()) return;
    out += ": ";
    out += o.noImageReason;
}

// The drive's free space, and whether the rest of the run fits in it.
void appendSpacePhrase(std::string &out, const OutputFacts &o, bool &warning) {
    const std::uint64_t room = o.frameBytes ? *o.freeBytes / o.frameBytes : 0;
    if (o.limit && *o.limit > o.frames) {
        const std::uint64_t toCome = *o.limit - o.frames;
        if (room < toCome) {
            warning = true;
            out += "WARNING: ";
            appendBytes(out, *o.freeBytes);
            return appendf(out, " free, room for %llu of the %llu images still to come",
                           static_cast<unsigned long long>(room), static_cast<unsigned long long>(toCome));
        }
    }
    appendBytes(out, *o.freeBytes);
    out += " free";
    if (o.frameBytes)
        appendf(out, ", room for %llu %s", static_cast<unsigned long long>(room), room == 1 ? "image" : "images");
}

}  // namespace

std::string duration(Micros span) {
    std::string out;
    appendDuration(out, span);
    return out;
}

std::string bytes(std::uint64_t count) {
    std::string out;
    appendBytes(out, count);
    return out;
}

void compose(const Facts &facts, Line &line) {
    line.camera.clear();
    line.output.clear();
    line.warning = facts.port && !facts.port->lost.empty();
    appendPortPhrase(line.camera, facts);
    if (facts.nextStepDue) {
        line.camera += kSeparator;
        appendNextStepPhrase(line.camera, facts);
    }
    if (facts.paused) {
        line.camera += kSeparator;
        line.camera += kPausedPhrase;
    }
    if (facts.output) {
        appendImagesPhrase(line.output, *facts.output);
        appendWithoutImagePhrase(line.output, *facts.output, line.warning);
        appendSuspendPhrase(line.output, *facts.output, line.warning);
        appendLogPhrase(line.output, *facts.output, line.warning);
        if (facts.output->open && facts.output->freeBytes) {
            line.output += kSeparator;
            appendSpacePhrase(line.output, *facts.output, line.warning);
        }
    }
    line.text = line.camera;
    if (!line.output.empty()) {
        line.text += kSeparator;
        line.text += line.output;
    }
}

Line compose(const Facts &facts) {
    Line line;
    compose(facts, line);
    return line;
}

// ---- Gathering ----------------------------------------------------------------------

namespace {

// The run's limit as the program shows it in a window title:
// "<file> - <written>/<limit>".
std::optional<std::uint32_t> limitShownFor(const std::string &name) {
    constexpr std::string_view kDash = " - ";
    for (HWND window : user::topLevelWindows()) {
        const user::Window *w = user::find(window);
        if (!w || w->text.size() < name.size() + kDash.size() || w->text.compare(0, name.size(), name) != 0 ||
            w->text.compare(name.size(), kDash.size(), kDash) != 0)
            continue;
        unsigned written = 0, limit = 0;
        char rest = 0;
        const char *counts = w->text.c_str() + name.size() + kDash.size();
        if (std::sscanf(counts, "%u/%u%c", &written, &limit, &rest) == 2 && limit > 0) return limit;
    }
    return std::nullopt;
}

// Whether the window's menu shows a checked "Pause" item, as the program
// shows its paused flag (its toolbar button follows the same flag).
bool pauseShownIn(HMENU menu, int depth = 0) {
    const int count = GetMenuItemCount(menu);
    for (int position = 0; position < count; ++position) {
        if (HMENU popup = GetSubMenu(menu, position)) {
            if (depth < 2 && pauseShownIn(popup, depth + 1)) return true;
            continue;
        }
        char text[32];
        const int length = GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof text, MF_BYPOSITION);
        if (length <= 0) continue;
        std::string_view label(text, static_cast<std::size_t>(length));
        label = label.substr(0, label.find('\t'));
        char plain[32];
        std::size_t n = 0;
        for (char c : label)
            if (c != '&' && n < sizeof plain) plain[n++] = c;
        if (std::string_view(plain, n) == "Pause")
            return (GetMenuState(menu, static_cast<UINT>(position), MF_BYPOSITION) & MF_CHECKED) != 0;
    }
    return false;
}

// The image log's backlog as the feed has it, its times in UTC.
void takeLogFacts(OutputFacts &o, const Feed::File &file) {
    o.logLinesWaiting = file.logLinesWaiting;
    o.logLinesKept = file.logLinesKept;
    o.suspendedImages = file.suspendedImages;
    if (file.logCaughtUp)
        o.logCaughtUp = *file.logCaughtUp + utcOffset(session().clock());
    else
        o.logCaughtUp.reset();
}

}  // namespace

Facts Watcher::gather(HWND window) {
    Facts facts;
    gather(window, facts);
    return facts;
}

void Watcher::gather(HWND window, Facts &facts) {
    const Feed *feed = session().findComponent<Feed>();
    facts.now = session().clock().now();
    if (feed && feed->port()) {
        // Refilled in place, so that a line refreshed often takes no new heap block.
        if (!facts.port) facts.port.emplace();
        facts.port->value = feed->port()->value;
        facts.port->since = feed->port()->since;
        facts.port->lost.assign(feed->port()->lost);
    } else
        facts.port.reset();
    facts.nextStepDue = user::nextTimerDueOf(window);
    const HMENU menu = GetMenu(window);
    facts.paused = menu && pauseShownIn(menu);

    if (const Feed::File *file = feed ? feed->newestFile() : nullptr) {
        const bool changed =
            !output_ || !output_->open || output_->name != file->name || output_->frames != file->frames;
        if (!output_ || output_->name != file->name || output_->serial != file->serial) output_ = OutputFacts{};
        output_->name = file->name;
        output_->frames = file->frames;
        output_->frameBytes = file->frameBytes;
        takeLogFacts(*output_, *file);
        output_->serial = file->serial;
        output_->open = true;
        path_ = file->path;
        if (changed || facts.now - spaceCheckedAt_ >= 1'000'000 || !output_->freeBytes) {
            spaceCheckedAt_ = facts.now;
            std::error_code error;
            const std::filesystem::space_info space = std::filesystem::space(path_.parent_path(), error);
            output_->freeBytes = error ? std::nullopt : std::optional<std::uint64_t>(space.available);
        }
    } else if (output_) {
        output_->open = false;
        // The images the file ended with, also those appended since the
        // line last looked (the last image of a run and its Stop come in
        // one turn of the loop).
        const Feed::File *closed = feed && feed->lastClosed() ? &*feed->lastClosed() : nullptr;
        if (closed && closed->serial == output_->serial && closed->name == output_->name) {
            output_->frames = closed->frames;
            takeLogFacts(*output_, *closed);  // what the log's end wrote, kept aside or still holds
        }
    }
    if (output_) {
        if (const auto limit = limitShownFor(output_->name)) output_->limit = limit;
        if (feed) {
            const Feed::Readouts &readouts = feed->readouts();
            const bool thisRun = readouts.run == output_->serial;
            output_->withoutImage = thisRun ? readouts.withoutImage : 0;
            if (thisRun) output_->noImageReason.assign(readouts.reason);
        }
    }
    facts.output = output_;  // into the facts' own room when they had an output before
}

}  // namespace plat::status
