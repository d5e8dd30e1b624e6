// Lets threads that may outlive a service (a detached download thread, say)
// use it only while it runs, and lets the service's end wait for the threads
// inside before it goes. Built from the system's slim lock and condition
// variable: constant-initialised and trivially destructible, so a gate that
// lives as long as the process stays usable while the process exits.
#pragma once

#include <windows.h>

namespace framework {

class LifetimeGate {
public:
    constexpr LifetimeGate() = default;
    LifetimeGate(const LifetimeGate&) = delete;
    LifetimeGate& operator=(const LifetimeGate&) = delete;

    // One more owner keeps the service running.
    void Open();
    // One owner less. The last one shuts the gate to newcomers and waits
    // until every thread inside has left; true then, and the service may go.
    bool Close();
    // False when no owner keeps the service running; Leave() follows a true.
    bool TryEnter();
    void Leave();

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE idle_ = CONDITION_VARIABLE_INIT;
    int owners_ = 0;
    int inside_ = 0;
};

// Inside the gate for the lifetime of the object, when the gate let it in.
class GateEntry {
public:
    explicit GateEntry(LifetimeGate& gate) : gate_(gate), entered_(gate.TryEnter()) {}
    ~GateEntry() {
        if (entered_) gate_.Leave();
    }
    GateEntry(const GateEntry&) = delete;
    GateEntry& operator=(const GateEntry&) = delete;

    explicit operator bool() const { return entered_; }

private:
    LifetimeGate& gate_;
    bool entered_;
};

}  // namespace framework
