#pragma once

#include <windows.h>
#include <winhttp.h>

#include "framework/Strings.h"

// Splits an absolute URL into scheme, host, path and extra information (the
// query), as pointers into the URL itself. False when WinHTTP rejects it.
bool CrackUrl(const CStringW& url, URL_COMPONENTS& parts);
