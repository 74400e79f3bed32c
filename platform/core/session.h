// A platform session: everything the stand-in platform holds for one run of
// the program (clock, root directory, window model, port, drivers ...).
// The process start makes one for the program; each test makes its own, so
// tests never share platform state.
//
// Subsystems keep their state as components of the session: component<T>()
// creates T on first use and the session destroys all components, newest
// first, when it ends.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <typeindex>
#include <utility>
#include <vector>

#include "core/clock.h"

namespace plat {

class Display;

struct SessionOptions {
    // Platform root: drive letters, the Windows directory and the platform's
    // own configuration live under it.
    std::filesystem::path root;
    bool virtualClock = false;
    // Null: the display the default-display hook makes (core/hooks.h).
    std::shared_ptr<Display> display;
};

class Session {
public:
    explicit Session(SessionOptions options);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    Clock &clock() { return *clock_; }
    const std::filesystem::path &root() const { return root_; }
    Display &display() { return *display_; }

    // A component made from what it uses (the port: a clock and notices) is
    // made by whoever makes the session (emplace); asking for one that was
    // not made is a fault of that maker.
    template <class T>
    T &component() {
        for (auto &[type, ptr] : components_)
            if (type == std::type_index(typeid(T))) return *static_cast<T *>(ptr.get());
        if constexpr (!std::is_default_constructible_v<T>)
            throw std::logic_error("the session was made without this component");
        else
            return add(std::make_shared<T>());
    }
    // The component when it has been made, else null (a reader that must not
    // bring a subsystem up, like a display showing the port).
    template <class T>
    T *findComponent() {
        for (auto &[type, ptr] : components_)
            if (type == std::type_index(typeid(T))) return static_cast<T *>(ptr.get());
        return nullptr;
    }

    // Makes the component T from `args` (the process start hands the port the
    // backend it opened before the session); there must be none yet.
    template <class T, class... Args>
    T &emplace(Args &&...args) {
        for (auto &[type, ptr] : components_)
            if (type == std::type_index(typeid(T))) throw std::logic_error("the session already has this component");
        return add(std::make_shared<T>(std::forward<Args>(args)...));
    }

private:
    template <class T>
    T &add(std::shared_ptr<T> owned) {
        T &ref = *owned;
        components_.emplace_back(std::type_index(typeid(T)), std::move(owned));
        return ref;
    }

    std::filesystem::path root_;
    std::unique_ptr<Clock> clock_;
    std::shared_ptr<Display> display_;
    std::vector<std::pair<std::type_index, std::shared_ptr<void>>> components_;
};

// The session in force; there is exactly one while the program or a test runs.
Session &session();
bool hasSession();

// Default platform root for the program: ~/Noctil (or $NOCTIL_ROOT).
std::filesystem::path defaultRoot();

}  // namespace plat
