#include "packages/JsonNumbers.h"

#include <cmath>
#include <limits>
#include <string>
#include <type_traits>

using nlohmann::json;

namespace {

[[noreturn]] void ThrowNotANumber(const json& value) {
    throw json::type_error::create(302, std::string("type must be number, but is ") + value.type_name(), &value);
}

template <typename Field>
Field ClampUnsigned(std::uint64_t number) {
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<Field>::max());
    return number > kMax ? std::numeric_limits<Field>::max() : static_cast<Field>(number);
}

template <typename Field>
Field ClampSigned(std::int64_t number) {
    if (number >= 0) return ClampUnsigned<Field>(static_cast<std::uint64_t>(number));
    if constexpr (std::is_unsigned_v<Field>) {
        return 0;
    } else {
        return number < std::numeric_limits<Field>::min() ? std::numeric_limits<Field>::min()
                                                          : static_cast<Field>(number);
    }
}

// Compared before converting: a double outside the field's range has no
// defined conversion. The largest value of a 64-bit field rounds up to 2^64
// as a double, so ">=" keeps every converted value below it.
template <typename Field>
Field ClampFloating(double number) {
    const double truncated = std::trunc(number);
    if (std::isnan(truncated)) return 0;
    if (truncated <= static_cast<double>(std::numeric_limits<Field>::min())) return std::numeric_limits<Field>::min();
    if (truncated >= static_cast<double>(std::numeric_limits<Field>::max())) return std::numeric_limits<Field>::max();
    return static_cast<Field>(truncated);
}

template <typename Field>
Field ClampNumber(const json& value) {
    if (value.is_number_unsigned()) return ClampUnsigned<Field>(value.get<std::uint64_t>());
    if (value.is_number_integer()) return ClampSigned<Field>(value.get<std::int64_t>());
    return ClampFloating<Field>(value.get<double>());
}

}  // namespace

std::int32_t ReadInt32Field(const json& value) {
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    if (!value.is_number()) ThrowNotANumber(value);
    return ClampNumber<std::int32_t>(value);
}

std::uint64_t ReadUInt64Field(const json& value) {
    if (!value.is_number()) ThrowNotANumber(value);
    return ClampNumber<std::uint64_t>(value);
}
