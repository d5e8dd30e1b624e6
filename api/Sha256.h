#pragma once

#include <string>
#include <string_view>

// SHA-256 of the bytes as 64 lower-case hexadecimal digits, computed by the
// system's cryptography provider; "" when the provider fails.
std::string Sha256Hex(std::string_view bytes);
