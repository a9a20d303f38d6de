// The handle registry both kinds of native objects live in.
#include "HandleRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

using nativesupport::HandleRegistry;
using nativesupport::pointerFromHandle;

namespace {
struct Counted {
    explicit Counted(std::atomic<int>& live) : live(live) { ++live; }
    ~Counted() { --live; }
    std::atomic<int>& live;
};
}

TEST(HandleRegistry, NamesObjectsByAddressInOrderAndForgetsThemWhenRetired)
{
    HandleRegistry<Counted> registry;
    std::atomic<int> live{0};
    const jlong a = registry.add(std::make_unique<Counted>(live));
    const jlong b = registry.add(std::make_unique<Counted>(live));
    const jlong c = registry.add(std::make_unique<Counted>(live));
    EXPECT_EQ(pointerFromHandle(a), registry.lease(a).get());

    EXPECT_TRUE(registry.retire(b, [](Counted&) { return true; }));
    EXPECT_EQ(2, live.load());
    const std::vector<Counted*> order{static_cast<Counted*>(pointerFromHandle(a)),
                                      static_cast<Counted*>(pointerFromHandle(c))};
    EXPECT_EQ(order, registry.inOrder());
    EXPECT_FALSE(registry.lease(b)) << "a retired handle names nothing";
    EXPECT_FALSE(registry.retire(b, [](Counted&) { return true; }));
    EXPECT_FALSE(registry.lease(0));
    EXPECT_FALSE(registry.contains(nullptr));

    // A finish that fails leaves the object in use.
    EXPECT_TRUE(registry.retire(c, [](Counted&) { return false; }));
    EXPECT_TRUE(registry.lease(c));
    EXPECT_EQ(2, live.load());
}

TEST(HandleRegistry, RetireWaitsForCallsUnderWayAndRefusesNewOnes)
{
    HandleRegistry<Counted> registry;
    std::atomic<int> live{0};
    const jlong h = registry.add(std::make_unique<Counted>(live));
    auto call = std::make_unique<HandleRegistry<Counted>::Lease>(registry.lease(h));

    std::atomic<bool> finished{false};
    std::thread retirer([&] { registry.retire(h, [&](Counted&) { return finished = true; }); });
    while (registry.lease(h))
        std::this_thread::yield();   // once the retire has begun, new calls get nothing
    EXPECT_FALSE(finished) << "the object is finished only once the call under way has ended";
    EXPECT_EQ(1, live.load());
    call.reset();
    retirer.join();
    EXPECT_TRUE(finished);
    EXPECT_EQ(0, live.load());
}

// An object whose storage outlives it: a call that reached it after its end reads `alive`
// false instead of memory the allocator gave to someone else.
struct Tracked {
    std::atomic<bool> alive{true};
    ~Tracked() { alive.store(false); }
    static void operator delete(void* p)
    {
        static std::mutex m;
        static std::vector<std::unique_ptr<char[]>> kept;
        std::lock_guard<std::mutex> lock(m);
        kept.emplace_back(static_cast<char*>(p));
    }
    static void* operator new(std::size_t size) { return new char[size]; }
};

// Callers on the current handle while another thread retires it and adds the next object:
// a lease always holds a live object, for as long as the call keeps it.
TEST(HandleRegistry, CallsRacingRetireNeverReachAnEndedObject)
{
    HandleRegistry<Tracked> registry;
    std::atomic<jlong> current{registry.add(std::make_unique<Tracked>())};
    std::atomic<bool> stop{false};
    std::atomic<long> ended{0}, calls{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 3; ++i) {
        callers.emplace_back([&] {
            while (!stop) {
                auto lease = registry.lease(current);
                if (!lease)
                    continue;
                ++calls;
                ended += !lease->alive;
                std::this_thread::yield();   // a call takes a while
                ended += !lease->alive;
            }
        });
    }
    for (int i = 0; i < 20000; ++i) {
        const jlong old = current;
        current = registry.add(std::make_unique<Tracked>());
        registry.retire(old, [](Tracked&) { return true; });
    }
    stop = true;
    for (std::thread& t : callers)
        t.join();
    EXPECT_EQ(0, ended.load()) << "of " << calls.load() << " calls";
    EXPECT_GT(calls.load(), 0);
}

// Many objects made and retired in a random order: the shards' tables grow, fill their
// probe runs and close the holes that retiring leaves, and every live handle still finds
// its object while no retired one finds any.
TEST(HandleRegistry, FindsEveryLiveObjectThroughRandomAddsAndRetires)
{
    HandleRegistry<Counted> registry;
    std::atomic<int> live{0};
    std::vector<jlong> held, gone;
    std::mt19937 random(7);
    for (int step = 0; step < 40000; ++step) {
        if (held.size() < 3000 && random() % 3 != 0) {
            held.push_back(registry.add(std::make_unique<Counted>(live)));
            continue;
        }
        if (held.empty())
            continue;
        const size_t at = random() % held.size();
        ASSERT_TRUE(registry.retire(held[at], [](Counted&) { return true; }));
        gone.push_back(held[at]);
        held[at] = held.back();
        held.pop_back();
    }
    ASSERT_EQ(static_cast<int>(held.size()), live.load());
    for (jlong h : held)
        ASSERT_EQ(pointerFromHandle(h), registry.withHeld(h, static_cast<void*>(nullptr), [](Counted& c) -> void* { return &c; }));
    for (jlong h : gone) {
        if (std::find(held.begin(), held.end(), h) == held.end())   // an address used again is live
            ASSERT_FALSE(registry.contains(pointerFromHandle(h)));
    }
}
