// The guard against losing the X server. When the X server goes away, Qt
// says so and calls exit() from inside its event processing; a step of
// event handling run under the guard leaves it instead, so that the program
// can end as File > Exit does. Qt is not called again afterwards.
#pragma once

namespace plat::qt {

// A step of Qt's event handling.
class GuardedStep {
public:
    virtual void run() = 0;

protected:
    ~GuardedStep() = default;
};

// Runs `step`; if the display is lost meanwhile, marks it lost and asks the
// program to end (as a hang-up does).
void runGuarded(GuardedStep &step);

template <class Step>
void guardAgainstDisplayLoss(Step &&step) {
    struct Adapter final : GuardedStep {
        explicit Adapter(Step &s) : step(s) {}
        void run() override { step(); }
        Step &step;
    } adapter(step);
    runGuarded(adapter);
}

// The X server went away under the display.
bool displayLostNow();

}  // namespace plat::qt
