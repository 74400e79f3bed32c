#include "display/qt/event_wait.h"

#include <QObject>
#include <QSocketNotifier>

#include "core/session.h"
#include "core/signals.h"

namespace plat::qt {

namespace {

// Qt's wait for events wakes late by up to a thousandth of its length (the
// kernel's slack for timed polls), and whatever it handles just before the
// deadline (a paint) holds the due timer back. So it is asked to wake this
// much early, and the rest is slept to the deadline on the platform clock,
// whose sleep is as fine as the system offers.
constexpr Micros kFinalStretch = 3000;
Micros wakeLead(Micros left) { return kFinalStretch + left / 500; }

// A signal that asks the program to end writes to a pipe; reading it wakes
// the wait, so that the message loop closes the main window at once.
void watchTermination() {
    static QSocketNotifier *notifier = nullptr;
    if (notifier || terminationWakeFd() < 0) return;
    notifier = new QSocketNotifier(terminationWakeFd(), QSocketNotifier::Read);  // left to the process exit
    QObject::connect(notifier, &QSocketNotifier::activated, [] { drainTerminationWake(); });
}

}  // namespace

bool EventWait::roomToShow(std::optional<Micros> deadline) {
    return !deadline || *deadline - session().clock().now() > kFinalStretch;
}

void EventWait::run(WaitClient &client, std::optional<Micros> deadline) {
    Clock &clock = session().clock();
    if (!loop_) {
        loop_ = std::make_unique<QEventLoop>();
        wake_ = std::make_unique<QTimer>();
        wake_->setSingleShot(true);
        wake_->setTimerType(Qt::PreciseTimer);
    }
    watchTermination();
    for (;;) {
        if (client.hasWork() || terminationSignal()) return;
        std::optional<Micros> wake;
        if (deadline) {
            const Micros left = *deadline - clock.now();
            if (left <= 0) return;
            if (left <= wakeLead(left) + 1000) {
                clock.sleepUntil(*deadline);
                return;
            }
            wake = left - wakeLead(left);
        }
        if (wake) wake_->start(static_cast<int>(*wake / 1000));
        loop_->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        wake_->stop();
        if (roomToShow(deadline)) client.showChanges();
    }
}

}  // namespace plat::qt
