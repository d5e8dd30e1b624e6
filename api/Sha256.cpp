#include "api/Sha256.h"

#include <algorithm>
#include <array>
#include <limits>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace {

constexpr std::size_t kDigestBytes = 32;
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

}  // namespace

Sha256::Sha256() {
    failed_ = !Succeeded(::BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
              !Succeeded(::BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() {
    if (hash_) ::BCryptDestroyHash(hash_);
    if (algorithm_) ::BCryptCloseAlgorithmProvider(algorithm_, 0);
}

void Sha256::Add(const void* data, std::size_t size) {
    auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
    // BCryptHashData takes a ULONG count; larger pieces go in slices.
    while (!failed_ && size > 0) {
        const ULONG slice = static_cast<ULONG>(std::min<std::size_t>(size, std::numeric_limits<ULONG>::max()));
        failed_ = !Succeeded(::BCryptHashData(hash_, bytes, slice, 0));
        bytes += slice;
        size -= slice;
    }
}

std::string Sha256::FinishHex() {
    std::array<UCHAR, kDigestBytes> digest{};
    if (failed_ || !Succeeded(::BCryptFinishHash(hash_, digest.data(), static_cast<ULONG>(digest.size()), 0))) {
        failed_ = true;
        return {};
    }
    failed_ = true;  // a finished hash takes no more data
    std::string text;
    text.reserve(digest.size() * 2);
    for (const UCHAR byte : digest) {
        text.push_back(kHexDigits[byte >> 4]);
        text.push_back(kHexDigits[byte & 0x0F]);
    }
    return text;
}

std::string Sha256Hex(std::string_view bytes) {
    Sha256 digest;
    digest.Add(bytes.data(), bytes.size());
    return digest.FinishHex();
}

std::optional<std::string> ParseSha256Hex(std::string_view text) {
    if (text.size() != kDigestBytes * 2) return std::nullopt;
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
