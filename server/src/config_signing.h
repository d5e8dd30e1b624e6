#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <openssl/types.h>

namespace ostrel {

// Configuration answers signed with an ECDSA P-256 key, so that a wizard built
// with the public key tells the distributor's answers from anyone else's even
// when TLS is broken. The answer carries
//   X-Ostrel-Signature: <key id>:<base64 of r || s>
// over "ostrel-config-v1\n" + nonce + "\n" + hex SHA-256 of the request body +
// "\n" + the answer body, the key id being the first 16 hex digits of the
// SHA-256 of the public key's uncompressed point. Safe to use from any thread.
class ConfigSigner {
 public:
  // Reads a PEM private key of the P-256 curve. Throws std::runtime_error.
  static std::shared_ptr<const ConfigSigner> FromPemFile(const std::filesystem::path& file);
  ~ConfigSigner();
  ConfigSigner(const ConfigSigner&) = delete;
  ConfigSigner& operator=(const ConfigSigner&) = delete;

  const std::string& KeyId() const { return keyId_; }
  // The header value for one answer.
  std::string HeaderValue(const std::string& nonce, const std::string& requestBody, const std::string& answer) const;
  // Base64 of r || s over message. Throws std::runtime_error.
  std::string Sign(const std::string& message) const;

 private:
  explicit ConfigSigner(EVP_PKEY* key);

  EVP_PKEY* key_;
  std::string keyId_;
};

// The bytes a signature covers.
std::string ConfigSignedMessage(const std::string& nonce, const std::string& requestBody, const std::string& answer);
// 16 lower-case hex digits of the SHA-256 of a public key's 65-byte point.
std::string ConfigKeyIdOf(const std::string& uncompressedPoint);

// Writes DIR/config-signing.key (PEM private key, mode 0600) and
// DIR/config-signing.pub (PEM SubjectPublicKeyInfo) of a new P-256 key pair;
// returns the key id. Refuses to replace an existing key. Throws std::runtime_error.
std::string WriteConfigSigningKeys(const std::filesystem::path& dir);

// How the next configuration answers' signatures are spoiled, for tests that
// play the part of someone between the wizard and the server.
enum class SignatureTamper { None, Omit, FlipBody, OtherNonce, OtherRequest, Verbatim };

class SignatureTamperBook {
 public:
  struct Plan {
    SignatureTamper tamper = SignatureTamper::None;
    std::string header;  // for Verbatim
  };
  // {"tamper": "none"|"omit"|"flip-body"|"other-nonce"|"other-request"|"header", "header": "..."}.
  // Throws std::invalid_argument with a message fit for the client.
  void Set(const std::string& body);
  Plan Current() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  Plan plan_;
};

}  // namespace ostrel
