// The one way the platform's libraries announce: listeners on an
// ObserverList, each kept there by its Subscription.
#include "core/observer_list.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "alloc_counter.h"

namespace {

using plat::ObserverList;
using plat::Subscription;

// A list of named listeners; each writes "<name><value>" to `heard` and may
// then act on the list from inside its call.
struct Listeners {
    std::unique_ptr<ObserverList<int>> list = std::make_unique<ObserverList<int>>();
    std::map<char, Subscription> handles;
    std::string heard;

    void add(char name, std::function<void(int)> then = {}) {
        handles[name] = list->add([this, name, then](int value) {
            heard += std::string(heard.empty() ? "" : " ") + name + std::to_string(value);
            if (then) then(value);
        });
    }
    void announce(int value) {
        if (list) list->notify(value);
    }
};

struct Case {
    const char *behaviour;
    std::function<void(Listeners &)> setUp;    // before the first announcement
    std::function<void(Listeners &)> between;  // between the first and the second
    const char *heard;                         // after announcing 1, then 2
};

// clang-format off
const Case kCases[] = {
    {"listeners hear in the order they were added",
     [](Listeners &l) { l.add('A'); l.add('B'); l.add('C'); }, nullptr,
     "A1 B1 C1 A2 B2 C2"},
    {"adding a listener keeps the ones before it",
     [](Listeners &l) { l.add('A'); l.add('B'); }, [](Listeners &l) { l.add('C'); },
     "A1 B1 A2 B2 C2"},
    {"letting a handle go takes its listener off, and only it",
     [](Listeners &l) { l.add('A'); l.add('B'); }, [](Listeners &l) { l.handles.erase('A'); },
     "A1 B1 B2"},
    {"resetting a handle takes its listener off",
     [](Listeners &l) { l.add('A'); l.add('B'); }, [](Listeners &l) { l.handles['B'].reset(); },
     "A1 B1 A2"},
    {"a moved handle keeps its listener; the one it replaces is let go",
     [](Listeners &l) { l.add('A'); l.add('B'); },
     [](Listeners &l) { l.handles['A'] = std::move(l.handles['B']); },
     "A1 B1 B2"},
    {"a listener that lets itself go is not told again",
     [](Listeners &l) { l.add('A', [&l](int) { l.handles['A'].reset(); }); l.add('B'); }, nullptr,
     "A1 B1 B2"},
    {"a listener let go during a round is not told later in that round",
     [](Listeners &l) { l.add('A', [&l](int) { l.handles['B'].reset(); }); l.add('B'); l.add('C'); }, nullptr,
     "A1 C1 A2 C2"},
    {"a listener added during a round hears from the next announcement",
     [](Listeners &l) { l.add('A', [&l](int v) { if (v == 1) l.add('D'); }); l.add('B'); }, nullptr,
     "A1 B1 A2 B2 D2"},
    {"a listener may announce again from inside its call",
     [](Listeners &l) { l.add('A', [&l](int v) { if (v == 1) l.announce(10); }); l.add('B'); }, nullptr,
     "A1 A10 B10 B1 A2 B2"},
    {"a listener let go in a nested round is not told in the outer one",
     [](Listeners &l) {
         l.add('A', [&l](int v) { if (v == 1) l.announce(10); });
         l.add('B', [&l](int v) { if (v == 10) l.handles['C'].reset(); });
         l.add('C');
     }, nullptr,
     "A1 A10 B10 B1 A2 B2"},
    {"clearing the list drops every listener",
     [](Listeners &l) { l.add('A'); l.add('B'); }, [](Listeners &l) { l.list->clear(); },
     "A1 B1"},
    {"clearing the list from inside a call ends the round",
     [](Listeners &l) { l.add('A', [&l](int) { l.list->clear(); }); l.add('B'); }, nullptr,
     "A1"},
    {"the list's owner may let it go from inside a call",
     [](Listeners &l) { l.add('A', [&l](int) { l.list.reset(); }); l.add('B'); }, nullptr,
     "A1 B1"},
    {"handles that outlive their list do nothing",
     [](Listeners &l) { l.add('A'); }, [](Listeners &l) { l.list.reset(); l.handles.clear(); },
     "A1"},
};
// clang-format on

TEST(ObserverList, BehavesAsTheTableSays) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.behaviour);
        Listeners l;
        c.setUp(l);
        l.announce(1);
        if (c.between) c.between(l);
        l.announce(2);
        EXPECT_EQ(l.heard, c.heard);
    }
}

TEST(ObserverList, CountsItsListeners) {
    ObserverList<int> list;
    EXPECT_TRUE(list.empty());
    Subscription a = list.add([](int) {});
    Subscription b = list.add([](int) {});
    EXPECT_EQ(list.size(), 2u);
    a.reset();
    EXPECT_EQ(list.size(), 1u);
    EXPECT_TRUE(b);
    EXPECT_FALSE(a);
}

// The port announces each write from inside it, where nothing may allocate.
TEST(ObserverList, AnnouncingDoesNotAllocate) {
    ObserverList<const std::string &> list;
    int told = 0;
    const Subscription a = list.add([&](const std::string &) { ++told; });
    const Subscription b = list.add([&](const std::string &) { ++told; });
    const std::string text = "a text too long for the small-string room of the standard library";
    alloc_counter::start();
    for (int i = 0; i < 10; ++i) list.notify(text);
    EXPECT_EQ(alloc_counter::stop(), 0u);
    EXPECT_EQ(told, 20);
}

}  // namespace
