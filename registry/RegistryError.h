// The failure every registry operation of this layer raises. The rules treat
// it as "not present", so it carries the call's result code for diagnosis
// rather than for recovery.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

namespace win32 {

class RegistryError : public std::runtime_error {
public:
    RegistryError(const std::string& message, LONG code) : std::runtime_error(message), code_(code) {}

    LONG code() const noexcept { return code_; }

private:
    LONG code_;
};

}  // namespace win32
