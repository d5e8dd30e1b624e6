#include "api/ConfigurationSignature.h"

#include <windows.h>
#include <bcrypt.h>

#include <optional>

#include "api/Base64.h"
#include "api/Sha256.h"
#include "core/OstrelException.h"
#include "framework/Handles.h"

#include "api/EmbeddedConfigurationKeys.inc"

namespace {

constexpr size_t kCoordinateBytes = 32;
constexpr size_t kPointBytes = 1 + 2 * kCoordinateBytes;
constexpr size_t kSignatureBytes = 2 * kCoordinateBytes;
constexpr size_t kKeyIdDigits = 16;
constexpr size_t kNonceBytes = 16;
// SubjectPublicKeyInfo of a P-256 key up to its point's first byte: the
// sequence, the algorithm (id-ecPublicKey), the curve (prime256v1), the bit
// string and the 0x04 of an uncompressed point.
constexpr unsigned char kP256InfoPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                             0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                             0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

struct AlgorithmTraits {
    using Handle = BCRYPT_ALG_HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};

struct KeyTraits {
    using Handle = BCRYPT_KEY_HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::BCryptDestroyKey(h); }
};

std::string Hex(const unsigned char* bytes, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    return text;
}

std::string DigestBytes(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

bool IsLowerHex(std::string_view text) {
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

const ConfigurationKey* KeyById(std::string_view id, const std::vector<ConfigurationKey>& keys) {
    for (const ConfigurationKey& key : keys) {
        if (key.id == id) return &key;
    }
    return nullptr;
}

bool VerifyWithProvider(const ConfigurationKey& key, const std::string& digest, const std::string& signature) {
    framework::UniqueHandle<AlgorithmTraits> algorithm;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(algorithm.Put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
        return false;
    }
    // The provider's public blob: its header, then X and Y without the 0x04.
    std::string blob(sizeof(BCRYPT_ECCKEY_BLOB), '\0');
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, static_cast<ULONG>(kCoordinateBytes)};
    blob.replace(0, sizeof(header), reinterpret_cast<const char*>(&header), sizeof(header));
    blob += key.point.substr(1);
    framework::UniqueHandle<KeyTraits> publicKey;
    if (!BCRYPT_SUCCESS(::BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, publicKey.Put(),
                                              reinterpret_cast<PUCHAR>(blob.data()), static_cast<ULONG>(blob.size()),
                                              0))) {
        return false;
    }
    std::string hash = digest;
    std::string raw = signature;
    return BCRYPT_SUCCESS(::BCryptVerifySignature(publicKey.Get(), nullptr, reinterpret_cast<PUCHAR>(hash.data()),
                                                  static_cast<ULONG>(hash.size()), reinterpret_cast<PUCHAR>(raw.data()),
                                                  static_cast<ULONG>(raw.size()), 0));
}

}  // namespace

std::vector<ConfigurationKey> ConfigurationKeysFrom(const std::vector<std::string_view>& subjectPublicKeyInfos) {
    std::vector<ConfigurationKey> keys;
    for (std::string_view text : subjectPublicKeyInfos) {
        const std::optional<std::string> info = DecodeBase64(text);
        constexpr size_t kPrefix = sizeof(kP256InfoPrefix);
        if (!info || info->size() != kPrefix - 1 + kPointBytes ||
            info->compare(0, kPrefix, reinterpret_cast<const char*>(kP256InfoPrefix), kPrefix) != 0) {
            continue;
        }
        ConfigurationKey key;
        key.point = info->substr(kPrefix - 1);
        key.id = Sha256Hex(key.point).substr(0, kKeyIdDigits);
        keys.push_back(std::move(key));
    }
    return keys;
}

const std::vector<ConfigurationKey>& EmbeddedConfigurationKeys() {
    static const std::vector<ConfigurationKey> keys = [] {
        std::vector<std::string_view> texts;
        for (const char* text : kEmbeddedConfigurationKeys) {
            if (*text) texts.emplace_back(text);
        }
        return ConfigurationKeysFrom(texts);
    }();
    return keys;
}

std::string NewConfigurationNonce() {
    unsigned char bytes[kNonceBytes] = {};
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, bytes, sizeof(bytes), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        throw OstrelException();
    }
    return Hex(bytes, sizeof(bytes));
}

std::string ConfigurationSignedMessage(const std::string& nonce, const std::string& requestBody,
                                       const std::string& answerBytes) {
    return "ostrel-config-v1\n" + nonce + "\n" + Sha256Hex(requestBody) + "\n" + answerBytes;
}

bool IsConfigurationSignatureValid(std::string_view header, const std::string& nonce, const std::string& requestBody,
                                   const std::string& answerBytes, const std::vector<ConfigurationKey>& keys) {
    const size_t colon = header.find(':');
    if (colon != kKeyIdDigits || !IsLowerHex(header.substr(0, colon))) return false;
    const ConfigurationKey* key = KeyById(header.substr(0, colon), keys);
    if (!key) return false;
    const std::optional<std::string> signature = DecodeBase64(header.substr(colon + 1));
    if (!signature || signature->size() != kSignatureBytes) return false;
    const std::string digest = DigestBytes(Sha256Hex(ConfigurationSignedMessage(nonce, requestBody, answerBytes)));
    if (digest.size() != Sha256::kDigestBytes) return false;
    return VerifyWithProvider(*key, digest, *signature);
}
