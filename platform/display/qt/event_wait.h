// The display's wait on the real clock: Qt's event processing until a
// person acts, the program is asked to end, or the deadline passes.
#pragma once

#include <QEventLoop>
#include <QTimer>

#include <memory>
#include <optional>

#include "core/clock.h"

namespace plat::qt {

// What the wait asks of the display between rounds of Qt's events.
class WaitClient {
public:
    // True when the loop has work to do: a person acted.
    virtual bool hasWork() = 0;
    // Shows the model if it changed since it was last shown.
    virtual void showChanges() = 0;

protected:
    ~WaitClient() = default;
};

class EventWait {
public:
    void run(WaitClient &client, std::optional<Micros> deadline);

    // True when there is time to show the model before the deadline: the
    // last stretch is kept for the wait to end on time.
    static bool roomToShow(std::optional<Micros> deadline);

private:
    // The loop and its wake-up timer are kept from wait to wait.
    std::unique_ptr<QEventLoop> loop_;
    std::unique_ptr<QTimer> wake_;
};

}  // namespace plat::qt
