// Wide text type used by the window layer and everything shown to the user.
#pragma once

#include <string>

namespace framework {

// The program's wide string: UTF-16 text handed to the system.
using CStringW = std::wstring;

}  // namespace framework

using framework::CStringW;
