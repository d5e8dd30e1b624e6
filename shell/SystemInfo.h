// Facts about the running Windows that several subsystems ask for.
#pragma once

#include <windows.h>

// True when the running Windows is at least major.minor with the given
// service pack.
bool IsOsVersionAtLeast(WORD major, WORD minor, WORD servicePackMajor);

// True on 64-bit Windows: always for the 64-bit build, and for the 32-bit
// build when it runs under WOW64. Both builds thus behave alike on the same
// machine.
bool IsWow64();
