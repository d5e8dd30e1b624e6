#include "framework/LifetimeGate.h"

namespace framework {

namespace {

class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ::ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

}  // namespace

void LifetimeGate::Open() {
    ExclusiveLock lock(lock_);
    ++owners_;
}

bool LifetimeGate::Close() {
    ExclusiveLock lock(lock_);
    if (owners_ == 0 || --owners_ > 0) return false;
    while (inside_ > 0) ::SleepConditionVariableSRW(&idle_, &lock_, INFINITE, 0);
    return true;
}

bool LifetimeGate::TryEnter() {
    ExclusiveLock lock(lock_);
    if (owners_ == 0) return false;
    ++inside_;
    return true;
}

void LifetimeGate::Leave() {
    ExclusiveLock lock(lock_);
    if (--inside_ == 0) ::WakeAllConditionVariable(&idle_);
}

}  // namespace framework
