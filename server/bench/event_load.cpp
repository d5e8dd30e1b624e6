// Load for the analytics endpoint: N clients, each on one kept-alive HTTPS
// connection, post signed events as fast as they are answered for a fixed time.
// Prints how many were answered 200 (and 503), the rate, and the latency
// percentiles; the benchmark script compares the count with what the server stored.
// Several comma-separated addresses spread the clients over servers that share one
// store, client i posting to address i mod n.
//
//   ostrel-event-load --address 127.0.0.21[,127.0.0.22] --port 443 --ca ca.pem --clients 32 --seconds 10
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <openssl/evp.h>

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

struct Settings {
  std::vector<std::string> addresses = {"127.0.0.21"};
  int port = 443;
  std::string ca;
  int clients = 32;
  double seconds = 10;
};

struct ClientResult {
  long long answered200 = 0;
  long long answered503 = 0;  // not stored; the wizard would send it once more
  long long otherStatus = 0;
  long long failed = 0;  // no answer at all
  std::vector<double> latenciesMs;
};

// Lower-case hex SHA-256, as the wizard computes its signature.
std::string Sha256Hex(const std::string& bytes) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 0x0f]);
  }
  return hex;
}

// An offer event with every field the wizard sends; client and sequence number
// make each one distinct.
json WizardEvent(int client, long long sequence) {
  json event = json::object();
  for (int i = 0; i <= 22; ++i) event[std::to_string(i)] = "";
  char machine[64];
  std::snprintf(machine, sizeof machine, "{4C4C4544-0042-3510-8052-%012d}", client);
  event["1"] = machine;
  event["2"] = "20240611" + std::to_string(100000 + client);
  event["3"] = "Kelvanor";
  event["4"] = "Kelvanor_DLM";
  event["5"] = "OFR-" + std::to_string(sequence % 7);
  event["6"] = std::to_string(1 + sequence % 5);
  event["7"] = "1.0.0.0";
  event["10"] = 2;
  event["15"] = 0;
  event["16"] = "ch1";
  event["17"] = "1";
  event["18"] = "tag";
  event["22"] = "Kelvanor Pro";
  event["31"] = "10.0.19045";
  event["38"] = std::to_string(sequence);
  return event;
}

ClientResult RunClient(const Settings& settings, int index, Clock::time_point end) {
  ClientResult result;
  httplib::SSLClient client(settings.addresses[static_cast<std::size_t>(index) % settings.addresses.size()],
                            settings.port);
  client.set_ca_cert_path(settings.ca.c_str());
  client.enable_server_certificate_verification(true);
  client.set_keep_alive(true);
  // The head and the body go out as two TLS records: with Nagle's algorithm the
  // body would wait for the server's delayed ACK, about 40 ms per event, and
  // the figure would measure that timer instead of the server.
  client.set_tcp_nodelay(true);
  client.set_connection_timeout(5);
  client.set_read_timeout(10);
  const json first = WizardEvent(index, 0);
  const httplib::Headers headers = {
      {"Authorization", "Signature=" + Sha256Hex(first["1"].get<std::string>() + first["2"].get<std::string>())},
      {"Expect", "100-continue"}};
  for (long long sequence = 0; Clock::now() < end; ++sequence) {
    const json event = WizardEvent(index, sequence);
    const std::string body = json{{"data", event.dump()}, {"table", "zb_analytics"}}.dump();
    const auto start = Clock::now();
    auto res = client.Post("/zbd", headers, body, "application/json");
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (!res) {
      ++result.failed;
      continue;
    }
    result.latenciesMs.push_back(ms);
    if (res->status == 200) {
      ++result.answered200;
    } else if (res->status == 503) {
      // A refused event goes again a little later, as the wizard's retry does,
      // instead of spinning on a server that cannot store it yet.
      ++result.answered503;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } else {
      ++result.otherStatus;
    }
  }
  return result;
}

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const std::size_t at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(at, sorted.size() - 1)];
}

bool ReadSettings(int argc, char** argv, Settings& settings) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const std::string value = argv[i + 1];
    if (option == "--address") {
      settings.addresses.clear();
      std::size_t from = 0;
      for (std::size_t comma; (comma = value.find(',', from)) != std::string::npos; from = comma + 1) {
        settings.addresses.push_back(value.substr(from, comma - from));
      }
      settings.addresses.push_back(value.substr(from));
    } else if (option == "--port") {
      settings.port = std::atoi(value.c_str());
    } else if (option == "--ca") {
      settings.ca = value;
    } else if (option == "--clients") {
      settings.clients = std::atoi(value.c_str());
    } else if (option == "--seconds") {
      settings.seconds = std::atof(value.c_str());
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && !settings.ca.empty() && settings.clients > 0 && settings.seconds > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!ReadSettings(argc, argv, settings)) {
    std::fprintf(stderr,
                 "usage: ostrel-event-load --ca FILE [--address A[,B...]] [--port P] [--clients N] [--seconds S]\n");
    return 2;
  }
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(settings.seconds));
  std::vector<ClientResult> results(static_cast<std::size_t>(settings.clients));
  std::vector<std::thread> clients;
  for (int i = 0; i < settings.clients; ++i) {
    clients.emplace_back([&, i] { results[static_cast<std::size_t>(i)] = RunClient(settings, i, end); });
  }
  for (auto& client : clients) client.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

  ClientResult total;
  for (const ClientResult& r : results) {
    total.answered200 += r.answered200;
    total.answered503 += r.answered503;
    total.otherStatus += r.otherStatus;
    total.failed += r.failed;
    total.latenciesMs.insert(total.latenciesMs.end(), r.latenciesMs.begin(), r.latenciesMs.end());
  }
  std::sort(total.latenciesMs.begin(), total.latenciesMs.end());
  std::printf("clients %d\n", settings.clients);
  std::printf("seconds %.2f\n", elapsed);
  std::printf("answered_200 %lld\n", total.answered200);
  std::printf("answered_503 %lld\n", total.answered503);
  std::printf("answered_other %lld\n", total.otherStatus);
  std::printf("no_answer %lld\n", total.failed);
  std::printf("events_per_second %.0f\n", static_cast<double>(total.answered200) / elapsed);
  std::printf("latency_p50_ms %.2f\n", Percentile(total.latenciesMs, 0.50));
  std::printf("latency_p99_ms %.2f\n", Percentile(total.latenciesMs, 0.99));
  return total.answered200 > 0 ? 0 : 1;
}
