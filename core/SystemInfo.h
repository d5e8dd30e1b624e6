// Facts about the running Windows that several subsystems ask for.
#pragma once

#include <windows.h>

// True when the running Windows is at least major.minor with the given
// service pack.
bool IsOsVersionAtLeast(WORD major, WORD minor, WORD servicePackMajor);
