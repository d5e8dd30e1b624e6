#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

// SHA-256 over bytes that arrive in pieces: on the processor's SHA
// extensions where it has them, else by the system's cryptography provider.
// A provider failure is kept and shows as an empty digest, which matches
// nothing.
class Sha256 {
public:
    enum class Engine {
        Fastest,         // the processor's instructions when present, else the provider
        SystemProvider,  // always the provider
    };

    static constexpr std::size_t kDigestBytes = 32;
    using Digest = std::array<unsigned char, kDigestBytes>;

    explicit Sha256(Engine engine = Engine::Fastest);
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    ~Sha256();

    void Add(const void* data, std::size_t size);
    // 64 lower-case hexadecimal digits; "" when the provider failed. Ends the
    // computation: later pieces are not counted.
    std::string FinishHex();

private:
    static constexpr std::size_t kBlockBytes = 64;

    void AddToBlocks(const unsigned char* bytes, std::size_t size);
    Digest FinishBlocks();
    void AddToProvider(const unsigned char* bytes, std::size_t size);

    bool onProcessor_ = false;
    bool failed_ = false;
    // The processor's computation.
    std::array<std::uint32_t, 8> state_{};
    std::array<unsigned char, kBlockBytes> pending_{};
    std::size_t pendingSize_ = 0;
    std::uint64_t totalBytes_ = 0;
    // The provider's.
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
};

// SHA-256 of the bytes as 64 lower-case hexadecimal digits; "" when the
// provider fails.
std::string Sha256Hex(std::string_view bytes, Sha256::Engine engine = Sha256::Engine::Fastest);

// A digest as a server writes it: exactly 64 hexadecimal digits in either
// case. Returns it in lower case, or nothing when it is not one.
std::optional<std::string> ParseSha256Hex(std::string_view text);

// The "sha256" member of a package's object in a server's answer: "" when
// there is none, the digest in lower case when it is one. A member that is
// there but is not a string of 64 hexadecimal digits throws
// std::invalid_argument: a digest the wizard cannot check must never pass as
// no digest at all.
std::string ReadSha256Member(const nlohmann::json& object);
