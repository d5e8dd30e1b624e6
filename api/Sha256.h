#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

// SHA-256 over bytes that arrive in pieces, computed by the system's
// cryptography provider. A provider failure is kept and shows as an empty
// digest, which matches nothing.
class Sha256 {
public:
    Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    ~Sha256();

    void Add(const void* data, std::size_t size);
    // 64 lower-case hexadecimal digits; "" when the provider failed. Ends the
    // computation: later pieces are not counted.
    std::string FinishHex();

private:
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
    bool failed_ = false;
};

// SHA-256 of the bytes as 64 lower-case hexadecimal digits; "" when the
// provider fails.
std::string Sha256Hex(std::string_view bytes);

// A digest as a server writes it: exactly 64 hexadecimal digits in either
// case. Returns it in lower case, or nothing when it is not one.
std::optional<std::string> ParseSha256Hex(std::string_view text);

// The "sha256" member of a package's object in a server's answer: "" when
// there is none, the digest in lower case when it is one. A member that is
// there but is not a string of 64 hexadecimal digits throws
// std::invalid_argument: a digest the wizard cannot check must never pass as
// no digest at all.
std::string ReadSha256Member(const nlohmann::json& object);
