// Signed configuration answers as a client checks them: the header's form,
// the key id, and the signature verified here with OpenSSL from the public
// key file alone, over the message built here from the request as sent.
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include <gtest/gtest.h>

#include "config_signing.h"
#include "server_fixture.h"
#include "test_support.h"

namespace ostrel {
namespace {

using nlohmann::json;
using testing::WriteFile;

std::string Hex(const unsigned char* bytes, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) text += {kDigits[bytes[i] >> 4], kDigits[bytes[i] & 0xF]};
  return text;
}

std::string Sha256Hex(const std::string& bytes) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
  return Hex(digest, sizeof digest);
}

using Key = std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)>;

Key ReadPublicKey(const std::filesystem::path& file) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "r"), std::fclose);
  return Key(in ? PEM_read_PUBKEY(in.get(), nullptr, nullptr, nullptr) : nullptr, EVP_PKEY_free);
}

std::string KeyIdOf(EVP_PKEY* key) {
  unsigned char* der = nullptr;
  const int length = i2d_PUBKEY(key, &der);
  const std::string point(reinterpret_cast<char*>(der) + length - 65, 65);
  OPENSSL_free(der);
  return Sha256Hex(point).substr(0, 16);
}

// Verifies "<key id>:<base64 r||s>" over message with key.
bool Verifies(EVP_PKEY* key, const std::string& header, const std::string& message) {
  const std::size_t colon = header.find(':');
  if (colon != 16 || header.substr(0, colon) != KeyIdOf(key)) return false;
  const std::string text = header.substr(colon + 1);
  unsigned char raw[66] = {};
  if (text.size() != 88 || EVP_DecodeBlock(raw, reinterpret_cast<const unsigned char*>(text.data()), 88) != 66) {
    return false;
  }
  ECDSA_SIG* signature = ECDSA_SIG_new();
  ECDSA_SIG_set0(signature, BN_bin2bn(raw, 32, nullptr), BN_bin2bn(raw + 32, 32, nullptr));
  unsigned char* der = nullptr;
  const int derLength = i2d_ECDSA_SIG(signature, &der);
  ECDSA_SIG_free(signature);
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  const bool ok = EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key) == 1 &&
                  EVP_DigestVerify(context.get(), der, derLength,
                                   reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
  OPENSSL_free(der);
  return ok;
}

TEST(ConfigSigningKeys, KeygenWritesAPrivateKeyOnlyItsOwnerReadsAndNeverReplacesOne) {
  testing::TempDir dir;
  const std::string keyId = WriteConfigSigningKeys(dir.path() / "keys");
  struct stat info {};
  ASSERT_EQ(::stat((dir.path() / "keys" / "config-signing.key").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  Key key = ReadPublicKey(dir.path() / "keys" / "config-signing.pub");
  ASSERT_TRUE(key);
  EXPECT_EQ(KeyIdOf(key.get()), keyId);
  EXPECT_EQ(ConfigSigner::FromPemFile(dir.path() / "keys" / "config-signing.key")->KeyId(), keyId);
  EXPECT_THROW(WriteConfigSigningKeys(dir.path() / "keys"), std::runtime_error);
  EXPECT_THROW(ConfigSigner::FromPemFile(dir.path() / "keys" / "config-signing.pub"), std::runtime_error);
}

class ConfigSigningTest : public testing::ServerFixture<7> {
 protected:
  void SetUp() override {
    WriteConfigSigningKeys(data_.path() / "keys");
    WriteFile(data_.path() / "configs" / "default.json", kAnswer);
    ServerOptions options = Options();
    options.signingKey = data_.path() / "keys" / "config-signing.key";
    options.controlToken = "t0ken";
    StartServer(options);
    key_ = ReadPublicKey(data_.path() / "keys" / "config-signing.pub");
  }

  httplib::Result Post(const httplib::Headers& headers) {
    httplib::SSLClient client(address_, server_->HttpsPort());
    client.set_ca_cert_path(certs_.ca.c_str());
    client.enable_server_certificate_verification(true);
    return client.Post("/o", headers, kRequest, "application/json");
  }

  void Tamper(const json& plan) {
    httplib::SSLClient client(address_, server_->HttpsPort());
    client.enable_server_certificate_verification(false);
    ASSERT_EQ(client.Post("/_test/signing", {{"X-Control-Token", "t0ken"}}, plan.dump(), "application/json")->status,
              200);
  }

  static constexpr const char* kAnswer = R"({"offers":[]} )";
  static constexpr const char* kRequest = R"({"u":"x"})";
  static constexpr const char* kNonce = "0123456789abcdef0123456789abcdef";
  Key key_{nullptr, EVP_PKEY_free};
};

TEST_F(ConfigSigningTest, EveryAnswerIsSignedOverTheNonceTheRequestAndTheBytesSent) {
  const std::string expected = std::string("ostrel-config-v1\n") + kNonce + "\n" + Sha256Hex(kRequest) + "\n";
  auto res = Post({{"X-Ostrel-Nonce", kNonce}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body, kAnswer);
  EXPECT_TRUE(Verifies(key_.get(), res->get_header_value("X-Ostrel-Signature"), expected + res->body));
  // Without a nonce the signature covers none.
  auto bare = Post({});
  EXPECT_TRUE(Verifies(key_.get(), bare->get_header_value("X-Ostrel-Signature"),
                       "ostrel-config-v1\n\n" + Sha256Hex(kRequest) + "\n" + bare->body));

  // What a test may make of it, standing between wizard and server.
  Tamper({{"tamper", "omit"}});
  EXPECT_FALSE(Post({{"X-Ostrel-Nonce", kNonce}})->has_header("X-Ostrel-Signature"));
  for (const char* tamper : {"flip-body", "other-nonce", "other-request"}) {
    Tamper({{"tamper", tamper}});
    auto spoiled = Post({{"X-Ostrel-Nonce", kNonce}});
    EXPECT_FALSE(Verifies(key_.get(), spoiled->get_header_value("X-Ostrel-Signature"), expected + spoiled->body))
        << tamper;
  }
  Tamper({{"tamper", "header"}, {"header", "no colon"}});
  EXPECT_EQ(Post({})->get_header_value("X-Ostrel-Signature"), "no colon");
}

}  // namespace
}  // namespace ostrel
