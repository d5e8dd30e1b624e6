#include "test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <openssl/sha.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace ostrel::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-server-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

TestCertificates MakeCertificates(const std::filesystem::path& dir, const std::vector<std::string>& addresses) {
  std::string command = std::string("bash '") + OSTREL_MAKE_TEST_CA + "' '" + dir.string() + "'";
  for (const auto& a : addresses) command += " " + a;
  command += " >/dev/null";
  int rc = std::system(command.c_str());
  EXPECT_EQ(rc, 0) << command;
  return {dir / "ca.pem", dir / "server.pem", dir / "server.key"};
}

std::string LoopbackAddressFor(int salt) { return "127.0.0." + std::to_string(100 + (getpid() + salt) % 100); }

void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out << bytes;
}

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string RawExchange(const std::string& address, int port, const std::filesystem::path& ca,
                        const std::vector<std::string>& chunks, int pauseMs) {
  int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  if (sock < 0) return {};
  std::unique_ptr<int, void (*)(int*)> closer(&sock, [](int* s) { ::close(*s); });
  timeval timeout{10, 0};
  setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1) return {};
  if (::connect(sock, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return {};

  std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> ctx(nullptr, SSL_CTX_free);
  std::unique_ptr<SSL, void (*)(SSL*)> ssl(nullptr, SSL_free);
  if (!ca.empty()) {
    ctx.reset(SSL_CTX_new(TLS_client_method()));
    if (SSL_CTX_load_verify_locations(ctx.get(), ca.c_str(), nullptr) != 1) return {};
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    ssl.reset(SSL_new(ctx.get()));
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), address.c_str());
    SSL_set_fd(ssl.get(), sock);
    if (SSL_connect(ssl.get()) != 1) return {};
  }
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    if (i > 0 && pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    const std::string& chunk = chunks[i];
    if (ssl ? SSL_write(ssl.get(), chunk.data(), static_cast<int>(chunk.size())) <= 0
            : ::send(sock, chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0) {
      break;
    }
  }
  std::string received;
  char buffer[4096];
  for (;;) {
    int n = ssl ? SSL_read(ssl.get(), buffer, sizeof buffer) : static_cast<int>(::recv(sock, buffer, sizeof buffer, 0));
    if (n <= 0) break;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  return received;
}

nlohmann::json WizardEvent(const std::map<std::string, nlohmann::json>& overrides) {
  nlohmann::json event = nlohmann::json::object();
  for (int i = 0; i <= 22; ++i) event[std::to_string(i)] = "";
  event["31"] = "10.0.19045";
  event["38"] = "1";
  event["1"] = "{4C4C4544-0042-3510-8052-B4C04F4E3132}";
  event["2"] = "20240611093012";
  event["3"] = "Kelvanor";
  event["4"] = "Kelvanor_DLM";
  event["7"] = "1.0.0.0";
  event["10"] = 1;
  event["15"] = 0;
  for (const auto& [key, value] : overrides) event[key] = value;
  return event;
}

nlohmann::json RunEvent(int run, const std::string& product, int kind, const std::string& offer,
                        const std::string& type, const std::map<std::string, nlohmann::json>& extra) {
  std::map<std::string, nlohmann::json> fields = {{"1", "{run-" + std::to_string(run) + "}"},
                                                  {"2", "2026121014" + std::to_string(10000 + run)},
                                                  {"5", kind == 1 ? product : offer},
                                                  {"6", type},
                                                  {"10", kind},
                                                  {"22", product}};
  for (const auto& [key, value] : extra) fields[key] = value;
  return WizardEvent(fields);
}

std::string EventEnvelope(const nlohmann::json& event, const std::string& table) {
  return nlohmann::json{{"data", event.dump()}, {"table", table}}.dump();
}

std::string SignatureFor(const nlohmann::json& event) {
  std::string input = event.at("1").get<std::string>() + event.at("2").get<std::string>();
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(input.data()), input.size(), digest);
  std::string hex;
  char pair[3];
  for (unsigned char byte : digest) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    hex += pair;
  }
  return "Signature=" + hex;
}

}  // namespace ostrel::testing
