#pragma once

#include <filesystem>
#include <string>

#include <httplib.h>

namespace ostrel {

// The header every /_test/ request must carry once the control interface is on.
inline constexpr const char* kControlTokenHeader = "X-Control-Token";

// 32 random bytes from OpenSSL's generator as lower-case hex. Throws
// std::runtime_error when the generator fails.
std::string NewControlToken();

// Writes the token readable by this user only, whole or not at all: a test may
// read it the moment the file appears. Throws std::runtime_error.
void WriteControlTokenFile(const std::filesystem::path& file, const std::string& token);

// True when the request carries exactly one token header equal to token. The
// comparison takes the same time wherever the first difference lies.
bool CarriesControlToken(const httplib::Request& req, const std::string& token);

}  // namespace ostrel
