#pragma once

#include <stdexcept>
#include <string>

// The program's own failure signal; the server API throws it without a message.
class OstrelException : public std::runtime_error {
public:
    explicit OstrelException(const std::string& message = std::string()) : std::runtime_error(message) {}
};
