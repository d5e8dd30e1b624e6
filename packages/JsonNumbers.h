// Numbers of the configuration read into fixed-width fields. A server can
// send any JSON number (1e300, -1 for a size, 2^64): each lands in its
// field's range, so no conversion is ever undefined.
#pragma once

#include <cstdint>

#include <nlohmann/json.hpp>

// A 32-bit field: integers, floating values truncated toward zero, booleans
// (true = 1); beyond the range the nearest end of it. Anything else throws
// the library's type error for numbers.
std::int32_t ReadInt32Field(const nlohmann::json& value);

// An unsigned 64-bit field: numbers only, floating values truncated toward
// zero; a negative number gives 0, a number beyond the range its largest
// value. Anything else, booleans included, throws the type error for numbers.
std::uint64_t ReadUInt64Field(const nlohmann::json& value);
