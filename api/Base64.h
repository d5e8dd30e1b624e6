// Standard base64 (RFC 4648 section 4) read strictly: the padding is
// required, and blanks, line breaks and any other character are refused.
// Pure; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The bytes, or none when the text is not strict base64.
std::optional<std::string> DecodeBase64(std::string_view text);
