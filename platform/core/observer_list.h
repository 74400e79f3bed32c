// The one way a library announces something: an ObserverList of listeners,
// each added with a Subscription that keeps it on the list while it lives.
// Adding a listener never removes another; a listener may add or drop
// listeners (itself too) from inside a call, and the owner of the list may
// go first: a Subscription outliving its list does nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <utility>

namespace plat {

namespace detail {

// What a Subscription knows of its list, whatever the list announces.
class ListenerRegistry {
public:
    virtual ~ListenerRegistry() = default;
    virtual void remove(std::uint64_t id) = 0;
};

}  // namespace detail

// A listener's place on a list: destroying or resetting it takes the
// listener off. Move-only; an empty one (default-made, moved from, reset)
// holds no listener.
class [[nodiscard]] Subscription {
public:
    Subscription() = default;
    Subscription(std::weak_ptr<detail::ListenerRegistry> list, std::uint64_t id) : list_(std::move(list)), id_(id) {}
    Subscription(Subscription &&other) noexcept : list_(std::move(other.list_)), id_(std::exchange(other.id_, 0)) {}
    Subscription &operator=(Subscription &&other) noexcept {
        if (this != &other) {
            reset();
            list_ = std::move(other.list_);
            id_ = std::exchange(other.id_, 0);
        }
        return *this;
    }
    Subscription(const Subscription &) = delete;
    Subscription &operator=(const Subscription &) = delete;
    ~Subscription() { reset(); }

    // Takes the listener off its list, if both are still there.
    void reset() {
        if (id_ == 0) return;
        if (auto list = list_.lock()) list->remove(id_);
        list_.reset();
        id_ = 0;
    }
    // True while this handle holds a listener (its list may be gone).
    explicit operator bool() const { return id_ != 0; }

private:
    std::weak_ptr<detail::ListenerRegistry> list_;
    std::uint64_t id_ = 0;
};

// Listeners told in the order they were added. notify() never allocates, so
// it may run where allocation is forbidden (the port's writes); a listener
// added during a call is told from the next announcement on, one dropped
// during a call is not told again, not even later in the same round.
template <class... Args>
class ObserverList {
public:
    using Listener = std::function<void(Args...)>;

    ObserverList() : state_(std::make_shared<State>()) {}
    ObserverList(const ObserverList &) = delete;
    ObserverList &operator=(const ObserverList &) = delete;
    // The listeners' subscriptions are let go of: they no longer reach a list.
    ~ObserverList() = default;

    Subscription add(Listener listener) {
        const std::uint64_t id = state_->nextId++;
        state_->entries.push_back(Entry{id, std::move(listener), true});
        return Subscription(state_, id);
    }

    void notify(Args... args) const {
        // The list stays while it is being told, even if a listener lets its
        // owner go; entries are erased only when no round is running.
        const std::shared_ptr<State> keep = state_;
        Round round(*keep);
        std::size_t count = keep->entries.size();
        for (auto it = keep->entries.begin(); count > 0; ++it, --count)
            if (it->active) it->call(args...);
    }

    // Drops every listener (their owner stops announcing).
    void clear() {
        if (state_->rounds == 0) {
            state_->entries.clear();
            return;
        }
        for (Entry &e : state_->entries) e.active = false;
    }
    // How many listeners are on the list.
    std::size_t size() const {
        std::size_t n = 0;
        for (const Entry &e : state_->entries) n += e.active ? 1 : 0;
        return n;
    }
    bool empty() const { return size() == 0; }

private:
    struct Entry {
        std::uint64_t id;
        Listener call;
        bool active;
    };
    // A list (std::list) keeps each listener in place while it runs, though
    // others are added behind it.
    struct State final : detail::ListenerRegistry {
        std::list<Entry> entries;
        std::uint64_t nextId = 1;
        int rounds = 0;  // notifications running, nested ones counted
        void remove(std::uint64_t id) override {
            for (auto it = entries.begin(); it != entries.end(); ++it) {
                if (it->id != id) continue;
                if (rounds > 0)
                    it->active = false;  // it may be running right now
                else
                    entries.erase(it);
                return;
            }
        }
    };
    struct Round {
        State &state;
        explicit Round(State &s) : state(s) { ++state.rounds; }
        ~Round() {
            if (--state.rounds == 0) state.entries.remove_if([](const Entry &e) { return !e.active; });
        }
        Round(const Round &) = delete;
        Round &operator=(const Round &) = delete;
    };

    std::shared_ptr<State> state_;
};

}  // namespace plat
