#include "observers/observers.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <utility>
#include <variant>
#include <vector>

#include "avicap/stream_record.h"
#include "avifile/avi_events.h"
#include "core/observer_list.h"
#include "core/session.h"
#include "display/status_line_feed.h"
#include "observers/image_log_follower.h"
#include "port/port_events.h"

namespace plat::observers {

namespace {

// Tells the status line (display/status_line_feed.h) what the port, the AVI
// library and the capture window announce.
class StatusLineFollower {
public:
    StatusLineFollower()
        : feed_(session().component<status::Feed>()),
          files_(avi::subscribe([this](const avi::FileEvent &e) { std::visit(*this, e); })),
          port_(subscribeToPortWrites([this](const PortWrite &w) {
              if (w.address != ParallelPort::kDataRegister) return;
              // A write the port did not carry: the status line says why.
              const ParallelPort *port = w.carried ? nullptr : session().findComponent<ParallelPort>();
              feed_.portWritten(w.value, w.time, port ? std::string_view(port->lossReason()) : std::string_view());
          })),
          tally_(session().component<avicap::StreamRecords>().onTallyChange([this](const avicap::ReadoutTally &t) {
              feed_.readoutsWithoutImage(t.run, t.withoutImage, t.reason);
          })) {}
    StatusLineFollower(const StatusLineFollower &) = delete;
    StatusLineFollower &operator=(const StatusLineFollower &) = delete;

    void operator()(const avi::FileOpened &) {}
    void operator()(const avi::StreamOpened &e) { feed_.streamOpened(e.file, e.name, e.path, e.frameBytes, e.serial); }
    void operator()(const avi::FrameAppended &e) { feed_.frameAppended(e.file, e.frames); }
    void operator()(const avi::FileClosed &e) { feed_.fileClosed(e.file); }

private:
    status::Feed &feed_;
    Subscription files_, port_, tally_;
};

}  // namespace

void attach(Session &session) {
    session.component<ImageLogFollower>();
    session.component<StatusLineFollower>();
}

}  // namespace plat::observers
