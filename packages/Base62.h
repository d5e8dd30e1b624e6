#pragma once

#include <string>

// The bytes read as one big-endian number, written in base 62 with the
// digits 0-9, a-z, A-Z; leading zero bytes are dropped.
std::string EncodeBase62(const std::string& bytes);
