#include "config_signing.h"

#include "sha256_hex.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

namespace ostrel {

namespace {

constexpr std::size_t kPointBytes = 65;
constexpr std::size_t kCoordinateBytes = 32;

std::string Base64(const unsigned char* bytes, std::size_t size) {
  std::vector<unsigned char> text(4 * ((size + 2) / 3) + 1);
  const int length = EVP_EncodeBlock(text.data(), bytes, static_cast<int>(size));
  return std::string(reinterpret_cast<const char*>(text.data()), static_cast<std::size_t>(length));
}

// The uncompressed point of a P-256 key: the last 65 bytes of its SubjectPublicKeyInfo.
std::string PointOf(EVP_PKEY* key) {
  unsigned char* der = nullptr;
  const int length = i2d_PUBKEY(key, &der);
  if (length <= 0) throw std::runtime_error("cannot encode the public key");
  std::unique_ptr<unsigned char, void (*)(void*)> owned(der, [](void* p) { OPENSSL_free(p); });
  if (static_cast<std::size_t>(length) < kPointBytes || der[length - kPointBytes] != 0x04) {
    throw std::runtime_error("the key's point is not uncompressed");
  }
  return std::string(reinterpret_cast<const char*>(der + length - kPointBytes), kPointBytes);
}

bool IsP256(EVP_PKEY* key) {
  char curve[64] = {};
  std::size_t length = 0;
  return EVP_PKEY_is_a(key, "EC") && EVP_PKEY_get_utf8_string_param(key, "group", curve, sizeof curve, &length) == 1 &&
         std::string(curve) == "prime256v1";
}

void WriteFileWithMode(const std::filesystem::path& file, const std::string& text, mode_t mode) {
  std::FILE* out = std::fopen(file.c_str(), "wx");
  if (!out) throw std::runtime_error("cannot create " + file.string() + " (does it exist already?)");
  ::chmod(file.c_str(), mode);
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (std::fclose(out) != 0 || !written) throw std::runtime_error("cannot write " + file.string());
}

std::string PemOf(EVP_PKEY* key, bool privateKey) {
  std::unique_ptr<BIO, int (*)(BIO*)> bio(BIO_new(BIO_s_mem()), BIO_free);
  const int ok = privateKey ? PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)
                            : PEM_write_bio_PUBKEY(bio.get(), key);
  if (ok != 1) throw std::runtime_error("cannot write the key as PEM");
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

}  // namespace

std::string ConfigSignedMessage(const std::string& nonce, const std::string& requestBody, const std::string& answer) {
  return "ostrel-config-v1\n" + nonce + "\n" + Sha256Hex(requestBody) + "\n" + answer;
}

std::string ConfigKeyIdOf(const std::string& uncompressedPoint) { return Sha256Hex(uncompressedPoint).substr(0, 16); }

ConfigSigner::ConfigSigner(EVP_PKEY* key) : key_(key), keyId_(ConfigKeyIdOf(PointOf(key))) {}

ConfigSigner::~ConfigSigner() { EVP_PKEY_free(key_); }

std::shared_ptr<const ConfigSigner> ConfigSigner::FromPemFile(const std::filesystem::path& file) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "r"), std::fclose);
  if (!in) throw std::runtime_error("cannot read the signing key " + file.string());
  EVP_PKEY* key = PEM_read_PrivateKey(in.get(), nullptr, nullptr, nullptr);
  if (!key) throw std::runtime_error(file.string() + " holds no PEM private key");
  if (!IsP256(key)) {
    EVP_PKEY_free(key);
    throw std::runtime_error(file.string() + " is not a P-256 key");
  }
  try {
    return std::shared_ptr<const ConfigSigner>(new ConfigSigner(key));
  } catch (...) {
    EVP_PKEY_free(key);
    throw;
  }
}

std::string ConfigSigner::Sign(const std::string& message) const {
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  std::size_t length = 0;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length, reinterpret_cast<const unsigned char*>(message.data()),
                     message.size()) != 1) {
    throw std::runtime_error("cannot sign");
  }
  std::vector<unsigned char> der(length);
  if (EVP_DigestSign(context.get(), der.data(), &length, reinterpret_cast<const unsigned char*>(message.data()),
                     message.size()) != 1) {
    throw std::runtime_error("cannot sign");
  }
  // The wire form is r || s, 32 bytes each, not the DER sequence OpenSSL makes.
  const unsigned char* at = der.data();
  std::unique_ptr<ECDSA_SIG, void (*)(ECDSA_SIG*)> signature(d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(length)),
                                                             ECDSA_SIG_free);
  if (!signature) throw std::runtime_error("cannot read the signature");
  std::array<unsigned char, 2 * kCoordinateBytes> raw{};
  if (BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), raw.data(), kCoordinateBytes) < 0 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()), raw.data() + kCoordinateBytes, kCoordinateBytes) < 0) {
    throw std::runtime_error("cannot write the signature");
  }
  return Base64(raw.data(), raw.size());
}

std::string ConfigSigner::HeaderValue(const std::string& nonce, const std::string& requestBody,
                                      const std::string& answer) const {
  return keyId_ + ":" + Sign(ConfigSignedMessage(nonce, requestBody, answer));
}

std::string WriteConfigSigningKeys(const std::filesystem::path& dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) throw std::runtime_error("cannot create " + dir.string() + ": " + error.message());
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), EVP_PKEY_free);
  if (!key) throw std::runtime_error("cannot make a P-256 key");
  WriteFileWithMode(dir / "config-signing.key", PemOf(key.get(), true), 0600);
  WriteFileWithMode(dir / "config-signing.pub", PemOf(key.get(), false), 0644);
  return ConfigKeyIdOf(PointOf(key.get()));
}

void SignatureTamperBook::Set(const std::string& body) {
  const nlohmann::json request = nlohmann::json::parse(body, nullptr, false);
  if (!request.is_object() || !request.contains("tamper") || !request["tamper"].is_string()) {
    throw std::invalid_argument("give {\"tamper\": ...}");
  }
  const std::string name = request["tamper"].get<std::string>();
  Plan plan;
  if (name == "none") {
    plan.tamper = SignatureTamper::None;
  } else if (name == "omit") {
    plan.tamper = SignatureTamper::Omit;
  } else if (name == "flip-body") {
    plan.tamper = SignatureTamper::FlipBody;
  } else if (name == "other-nonce") {
    plan.tamper = SignatureTamper::OtherNonce;
  } else if (name == "other-request") {
    plan.tamper = SignatureTamper::OtherRequest;
  } else if (name == "header") {
    if (!request.contains("header") || !request["header"].is_string()) throw std::invalid_argument("\"header\" needed");
    plan.tamper = SignatureTamper::Verbatim;
    plan.header = request["header"].get<std::string>();
    if (plan.header.find_first_of("\r\n") != std::string::npos) throw std::invalid_argument("one header line only");
  } else {
    throw std::invalid_argument("unknown tamper \"" + name + "\"");
  }
  std::lock_guard lock(mutex_);
  plan_ = plan;
}

SignatureTamperBook::Plan SignatureTamperBook::Current() const {
  std::lock_guard lock(mutex_);
  return plan_;
}

void SignatureTamperBook::Clear() {
  std::lock_guard lock(mutex_);
  plan_ = Plan{};
}

}  // namespace ostrel
