#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace ostrel::testing {

// A fresh folder under /tmp, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

struct TestCertificates {
  std::filesystem::path ca, cert, key;
};

// Runs make-test-ca.sh; fails the calling test when the script fails.
TestCertificates MakeCertificates(const std::filesystem::path& dir, const std::vector<std::string>& addresses);

// A loopback address for this test process, varied so parallel test processes are
// easy to tell apart in logs (ports are what keeps them from colliding).
std::string LoopbackAddressFor(int salt);

void WriteFile(const std::filesystem::path& file, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& file);

// Sends the chunks over one connection (TLS verified against ca, or plain TCP when ca
// is empty), pausing between them, and returns every byte the server sent until it
// closed the connection. Empty when the connection or handshake failed.
std::string RawExchange(const std::string& address, int port, const std::filesystem::path& ca,
                        const std::vector<std::string>& chunks, int pauseMs = 0);

// An event body as the wizard builds one: every key "0".."22", "31", "38", with
// "10" and "15" as numbers; overrides replace or add fields.
nlohmann::json WizardEvent(const std::map<std::string, nlohmann::json>& overrides);

// An event of wizard run number `run` (its own fields "1" and "2"): package kind 1 (the
// main product, field "5" its product) or 2 (offer `offer`), type as field "6".
nlohmann::json RunEvent(int run, const std::string& product, int kind, const std::string& offer,
                        const std::string& type, const std::map<std::string, nlohmann::json>& extra = {});

// The POST body {"data": <compact event text>, "table": "zb_analytics"}.
std::string EventEnvelope(const nlohmann::json& event, const std::string& table = "zb_analytics");

// The Authorization value computed here from first principles (OpenSSL's one-shot
// SHA256), independent of the server's code.
std::string SignatureFor(const nlohmann::json& event);

}  // namespace ostrel::testing
