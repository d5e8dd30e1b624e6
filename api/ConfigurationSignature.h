// Signed configuration answers. The wizard sends a fresh nonce with every
// configuration request (X-Ostrel-Nonce: 32 lower-case hexadecimal digits) and
// takes an answer only when its X-Ostrel-Signature, "<key id>:<base64 of the
// 64-byte ECDSA P-256 signature r || s>", verifies with one of the keys the
// build trusts over
//   "ostrel-config-v1\n" + nonce + "\n" + hex SHA-256 of the request body
//   + "\n" + the answer body,
// the key id being the first 16 hexadecimal digits of the SHA-256 of the key's
// uncompressed point. Verified with the platform's provider (BCrypt). Any
// thread; nothing here throws but NewConfigurationNonce.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// A key configuration answers may be signed by.
struct ConfigurationKey {
    std::string point;  // 65 bytes: 04 || X || Y
    std::string id;     // 16 lower-case hexadecimal digits
};

// Keys from the base64 of their SubjectPublicKeyInfo; a text that is no
// P-256 key with an uncompressed point is left out.
std::vector<ConfigurationKey> ConfigurationKeysFrom(const std::vector<std::string_view>& subjectPublicKeyInfos);
// The keys this build was made with (OSTREL_CONFIG_KEY); empty when none.
const std::vector<ConfigurationKey>& EmbeddedConfigurationKeys();

// 16 fresh bytes from the system's generator as 32 lower-case hexadecimal
// digits. Throws OstrelException when the generator fails.
std::string NewConfigurationNonce();

// The message a signature covers.
std::string ConfigurationSignedMessage(const std::string& nonce, const std::string& requestBody,
                                       const std::string& answerBytes);

// True when header is a well-formed signature by one of keys (chosen by its
// key id) over the message for nonce, requestBody and answerBytes.
bool IsConfigurationSignatureValid(std::string_view header, const std::string& nonce, const std::string& requestBody,
                                   const std::string& answerBytes, const std::vector<ConfigurationKey>& keys);
