#include "api/Sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <array>

namespace {

struct AlgorithmHandle {
    BCRYPT_ALG_HANDLE handle = nullptr;
    ~AlgorithmHandle() {
        if (handle) ::BCryptCloseAlgorithmProvider(handle, 0);
    }
};

struct HashHandle {
    BCRYPT_HASH_HANDLE handle = nullptr;
    ~HashHandle() {
        if (handle) ::BCryptDestroyHash(handle);
    }
};

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
    AlgorithmHandle algorithm;
    if (!Succeeded(::BCryptOpenAlgorithmProvider(&algorithm.handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return {};
    HashHandle hash;
    if (!Succeeded(::BCryptCreateHash(algorithm.handle, &hash.handle, nullptr, 0, nullptr, 0, 0))) return {};
    auto* data = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
    if (!Succeeded(::BCryptHashData(hash.handle, data, static_cast<ULONG>(bytes.size()), 0))) return {};
    std::array<UCHAR, 32> digest{};
    if (!Succeeded(::BCryptFinishHash(hash.handle, digest.data(), static_cast<ULONG>(digest.size()), 0))) return {};

    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (const UCHAR byte : digest) {
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 0x0F]);
    }
    return text;
}
