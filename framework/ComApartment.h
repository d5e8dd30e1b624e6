// COM initialisation for the calling thread, undone when the object goes,
// but only when it succeeded: a thread that already runs in another kind of
// apartment keeps its own initialisation untouched.
#pragma once

#include <objbase.h>

namespace framework {

class ComApartment {
public:
    ComApartment() noexcept : result_(::CoInitialize(nullptr)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(result_)) ::CoUninitialize();
    }

    // False only when COM cannot be used on this thread at all.
    bool Usable() const noexcept { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

}  // namespace framework
