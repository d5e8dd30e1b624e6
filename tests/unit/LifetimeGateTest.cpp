// The gate that lets detached threads use a service only while it runs, and
// makes the service's end wait for the threads inside.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "framework/LifetimeGate.h"

namespace {

using framework::GateEntry;
using framework::LifetimeGate;

TEST(LifetimeGate, LetsThreadsInOnlyWhileAnOwnerKeepsItOpen) {
    LifetimeGate gate;
    EXPECT_FALSE(gate.TryEnter()) << "nobody opened it yet";
    gate.Open();
    ASSERT_TRUE(gate.TryEnter());
    gate.Leave();
    EXPECT_TRUE(gate.Close());
    EXPECT_FALSE(gate.TryEnter()) << "closed for good";
    EXPECT_FALSE(gate.Close()) << "a second close has nothing to end";
}

TEST(LifetimeGate, OnlyTheLastOwnerShutsIt) {
    LifetimeGate gate;
    gate.Open();
    gate.Open();
    EXPECT_FALSE(gate.Close());
    {
        GateEntry entry(gate);
        EXPECT_TRUE(entry);
    }
    EXPECT_TRUE(gate.Close());
    GateEntry late(gate);
    EXPECT_FALSE(late);
}

TEST(LifetimeGate, ClosingWaitsUntilTheThreadInsideHasLeft) {
    LifetimeGate gate;
    gate.Open();
    std::promise<void> inside;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        GateEntry entry(gate);
        EXPECT_TRUE(entry);
        inside.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        finished = true;
    });
    inside.get_future().wait();
    EXPECT_TRUE(gate.Close());
    // The worker's work was over before the service could go.
    EXPECT_TRUE(finished);
    worker.join();
}

TEST(LifetimeGate, EntriesNestAndAllOfThemMustLeave) {
    LifetimeGate gate;
    gate.Open();
    auto outer = std::make_unique<GateEntry>(gate);
    {
        // A release inside a use (a picture replaced while storing one) enters again.
        GateEntry inner(gate);
        EXPECT_TRUE(inner);
    }
    ASSERT_TRUE(*outer);
    auto closing = std::async(std::launch::async, [&] { return gate.Close(); });
    EXPECT_EQ(closing.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
        << "closed while an entry was still inside";
    outer.reset();
    ASSERT_EQ(closing.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(closing.get());
}

TEST(LifetimeGate, NoNewcomerWhileTheLastOwnerWaits) {
    LifetimeGate gate;
    gate.Open();
    auto first = std::make_unique<GateEntry>(gate);
    auto closing = std::async(std::launch::async, [&] { return gate.Close(); });
    ASSERT_EQ(closing.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    // The gate is shutting: a thread arriving now must keep out.
    EXPECT_FALSE(GateEntry(gate));
    first.reset();
    ASSERT_EQ(closing.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

}  // namespace
