// Conversions between UTF-8 / ANSI text and the program's wide text.
#pragma once

#include <string>
#include <string_view>

#include "framework/Strings.h"

// UTF-8 to UTF-16. Empty input gives empty output; a conversion the system
// rejects throws std::runtime_error.
CStringW Utf8ToWide(std::string_view text);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string WideToUtf8(std::wstring_view text);
