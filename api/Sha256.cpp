#include "api/Sha256.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "api/Sha256Blocks.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

constexpr std::array<std::uint32_t, 8> kInitialState = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

std::string HexOf(const Sha256::Digest& digest) {
    std::string text;
    text.reserve(digest.size() * 2);
    for (const unsigned char byte : digest) {
        text.push_back(kHexDigits[byte >> 4]);
        text.push_back(kHexDigits[byte & 0x0F]);
    }
    return text;
}

}  // namespace

Sha256::Sha256(Engine engine) {
    onProcessor_ = engine == Engine::Fastest && ProcessorHasShaExtensions();
    if (onProcessor_) {
        state_ = kInitialState;
        return;
    }
    failed_ = !Succeeded(::BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
              !Succeeded(::BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() {
    if (hash_) ::BCryptDestroyHash(hash_);
    if (algorithm_) ::BCryptCloseAlgorithmProvider(algorithm_, 0);
}

void Sha256::Add(const void* data, std::size_t size) {
    if (failed_ || size == 0) return;
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (onProcessor_) {
        AddToBlocks(bytes, size);
    } else {
        AddToProvider(bytes, size);
    }
}

void Sha256::AddToBlocks(const unsigned char* bytes, std::size_t size) {
    totalBytes_ += size;
    if (pendingSize_ > 0) {
        const std::size_t taken = std::min(size, kBlockBytes - pendingSize_);
        std::memcpy(pending_.data() + pendingSize_, bytes, taken);
        pendingSize_ += taken;
        bytes += taken;
        size -= taken;
        if (pendingSize_ < kBlockBytes) return;
        CompressSha256Blocks(state_.data(), pending_.data(), 1);
        pendingSize_ = 0;
    }
    const std::size_t whole = size / kBlockBytes;
    if (whole > 0) CompressSha256Blocks(state_.data(), bytes, whole);
    pendingSize_ = size - whole * kBlockBytes;
    std::memcpy(pending_.data(), bytes + whole * kBlockBytes, pendingSize_);
}

// The message ends with a one bit, zeros up to 8 bytes short of a block, and
// its length in bits, big-endian.
Sha256::Digest Sha256::FinishBlocks() {
    const std::uint64_t bits = totalBytes_ * 8;
    std::array<unsigned char, 2 * kBlockBytes> tail{};
    std::memcpy(tail.data(), pending_.data(), pendingSize_);
    tail[pendingSize_] = 0x80;
    const std::size_t tailBytes = pendingSize_ + 1 + 8 <= kBlockBytes ? kBlockBytes : 2 * kBlockBytes;
    for (int i = 0; i < 8; ++i) tail[tailBytes - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    CompressSha256Blocks(state_.data(), tail.data(), tailBytes / kBlockBytes);

    Digest digest{};
    for (std::size_t word = 0; word < state_.size(); ++word) {
        for (int i = 0; i < 4; ++i) digest[4 * word + i] = static_cast<unsigned char>(state_[word] >> (24 - 8 * i));
    }
    return digest;
}

void Sha256::AddToProvider(const unsigned char* bytes, std::size_t size) {
    // BCryptHashData takes a ULONG count; larger pieces go in slices.
    while (!failed_ && size > 0) {
        const ULONG slice = static_cast<ULONG>(std::min<std::size_t>(size, std::numeric_limits<ULONG>::max()));
        failed_ = !Succeeded(::BCryptHashData(hash_, const_cast<PUCHAR>(bytes), slice, 0));
        bytes += slice;
        size -= slice;
    }
}

std::string Sha256::FinishHex() {
    if (failed_) return {};
    // A finished computation takes no more data.
    failed_ = true;
    if (onProcessor_) return HexOf(FinishBlocks());
    Digest digest{};
    if (!Succeeded(::BCryptFinishHash(hash_, digest.data(), static_cast<ULONG>(digest.size()), 0))) return {};
    return HexOf(digest);
}

std::string Sha256Hex(std::string_view bytes, Sha256::Engine engine) {
    Sha256 digest(engine);
    digest.Add(bytes.data(), bytes.size());
    return digest.FinishHex();
}

std::optional<std::string> ParseSha256Hex(std::string_view text) {
    if (text.size() != Sha256::kDigestBytes * 2) return std::nullopt;
    std::string lower;
    lower.reserve(text.size());
    for (const char c : text) {
        const int value = HexValue(c);
        if (value < 0) return std::nullopt;
        lower.push_back(kHexDigits[value]);
    }
    return lower;
}

std::string ReadSha256Member(const nlohmann::json& object) {
    const auto member = object.find("sha256");
    if (member == object.end()) return {};
    const std::optional<std::string> digest =
        member->is_string() ? ParseSha256Hex(member->get<std::string>()) : std::nullopt;
    if (!digest) throw std::invalid_argument("sha256 is not 64 hexadecimal digits");
    return *digest;
}
