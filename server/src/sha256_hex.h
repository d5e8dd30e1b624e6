#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ostrel {

// Lower-case hexadecimal digits of bytes, two per byte.
std::string LowerHex(const unsigned char* bytes, std::size_t size);

// Lower-case hex SHA-256 of the bytes (OpenSSL). Throws std::runtime_error.
std::string Sha256Hex(std::string_view bytes);

}  // namespace ostrel
