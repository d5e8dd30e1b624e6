// The Content-Length header read as text: lengths of 4 GiB and more do not fit
// the 32-bit number the HTTP stacks offer.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Digits with optional surrounding blanks; anything else, or a value beyond
// 64 bits, is no usable length.
std::optional<std::uint64_t> ParseContentLength(std::wstring_view text);
