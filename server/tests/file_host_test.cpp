// The file host on real listeners: what goes over the wire for each behaviour a
// test can set, over HTTPS and plain HTTP.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "file_content.h"
#include "server.h"
#include "server_fixture.h"
#include "test_support.h"

namespace ostrel {
namespace {

using nlohmann::json;
using testing::RawExchange;
using testing::WriteFile;

// A raw HTTP answer split into its parts.
struct WireAnswer {
  std::string statusLine;
  std::string headers;  // every header line, each ending in \r\n
  std::string body;     // as sent, framing included
  bool Has(const std::string& headerLine) const { return headers.find(headerLine + "\r\n") != std::string::npos; }
  bool HasName(const std::string& name) const { return headers.find(name + ":") != std::string::npos; }
};

WireAnswer Split(const std::string& raw) {
  WireAnswer answer;
  const std::size_t lineEnd = raw.find("\r\n");
  const std::size_t headEnd = raw.find("\r\n\r\n");
  if (lineEnd == std::string::npos || headEnd == std::string::npos) return answer;
  answer.statusLine = raw.substr(0, lineEnd);
  answer.headers = raw.substr(lineEnd + 2, headEnd + 2 - (lineEnd + 2));
  answer.body = raw.substr(headEnd + 4);
  return answer;
}

// Reads a chunked body; "" and ok=false when it is not well formed or has no last chunk.
std::string Unchunk(const std::string& body, bool& complete) {
  std::string out;
  std::size_t at = 0;
  complete = false;
  for (;;) {
    const std::size_t end = body.find("\r\n", at);
    if (end == std::string::npos) return out;
    const std::size_t size = std::stoul(body.substr(at, end - at), nullptr, 16);
    at = end + 2;
    if (size == 0) {
      complete = true;
      return out;
    }
    if (at + size > body.size()) return out + body.substr(at);
    out += body.substr(at, size);
    at += size + 2;
  }
}

std::string Generated(std::uint64_t size, std::uint64_t seed) {
  std::string bytes(size, '\0');
  FileContent::Generate(seed, 0, bytes.data(), bytes.size());
  return bytes;
}

class FileHostTest : public testing::ServerFixture<3> {
 protected:
  void SetUp() override {
    ServerOptions options = Options();
    options.httpPort = 0;
    options.controlToken = kControlToken;
    StartServer(options);
  }

  // Carries the control token on every request; the public endpoints ignore it.
  httplib::Client Plain() {
    httplib::Client client(address_, *server_->HttpPort());
    client.set_read_timeout(20);
    client.set_default_headers({{"X-Control-Token", kControlToken}});
    return client;
  }

  std::unique_ptr<httplib::SSLClient> Secure() {
    auto client = std::make_unique<httplib::SSLClient>(address_, server_->HttpsPort());
    client->set_ca_cert_path(certs_.ca.c_str());
    client->enable_server_certificate_verification(true);
    client->set_read_timeout(20);
    return client;
  }

  int SetFile(const json& behaviour) {
    auto res = Plain().Post("/_test/files", behaviour.dump(), "application/json");
    return res ? res->status : 0;
  }

  json Info(const std::string& path) {
    auto res = Plain().Get(("/_test/files?path=" + path).c_str());
    if (!res || res->status != 200) return json();
    return json::parse(res->body);
  }

  // One request without "Connection: close", so only the server's framing ends it.
  WireAnswer RawGet(const std::string& target, bool secure = false) {
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: " + address_ + "\r\n\r\n";
    return Split(RawExchange(address_, secure ? server_->HttpsPort() : *server_->HttpPort(),
                             secure ? certs_.ca : std::filesystem::path(), {request}));
  }

  // A request that asks the server to close afterwards, for answers with a length.
  // extraHeaders: whole header lines, each ending in \r\n.
  WireAnswer RawGetClosing(const std::string& target, bool secure = false, const std::string& extraHeaders = "") {
    const std::string request =
        "GET " + target + " HTTP/1.1\r\nHost: " + address_ + "\r\nConnection: close\r\n" + extraHeaders + "\r\n";
    return Split(RawExchange(address_, secure ? server_->HttpsPort() : *server_->HttpPort(),
                             secure ? certs_.ca : std::filesystem::path(), {request}));
  }

  // How an HTTPS answer's last read ends: the SSL_get_error code of the read
  // that returned nothing.
  int HowTheTlsReadsEnd(const std::string& target) {
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    if (sock < 0) return -1;
    std::unique_ptr<const int, void (*)(const int*)> closer(&sock, [](const int* s) { ::close(*s); });
    timeval timeout{10, 0};
    ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(server_->HttpsPort()));
    if (::inet_pton(AF_INET, address_.c_str(), &to.sin_addr) != 1) return -1;
    if (::connect(sock, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return -1;
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> ctx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    // A bare close then reads as an end, not as an error.
    SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    std::unique_ptr<SSL, void (*)(SSL*)> ssl(SSL_new(ctx.get()), SSL_free);
    SSL_set_fd(ssl.get(), sock);
    if (SSL_connect(ssl.get()) != 1) return -1;
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: " + address_ + "\r\n\r\n";
    if (SSL_write(ssl.get(), request.data(), static_cast<int>(request.size())) <= 0) return -1;
    char buffer[4096];
    for (;;) {
      const int n = SSL_read(ssl.get(), buffer, sizeof buffer);
      if (n <= 0) return SSL_get_error(ssl.get(), n);
    }
  }

  static constexpr const char* kControlToken = "file-host-test-token";
};

TEST_F(FileHostTest, GeneratedFileComesWithItsLengthOverBothListeners) {
  ASSERT_EQ(SetFile({{"path", "/f/big.bin"}, {"size", 300000}, {"seed", 5}}), 200);
  const std::string expected = Generated(300000, 5);

  auto secure = Secure()->Get("/f/big.bin");
  ASSERT_TRUE(secure);
  EXPECT_EQ(secure->status, 200);
  EXPECT_EQ(secure->get_header_value("Content-Length"), "300000");
  EXPECT_EQ(secure->get_header_value("Content-Type"), "application/octet-stream");
  EXPECT_TRUE(secure->body == expected);

  auto plain = Plain().Get("/f/big.bin");
  ASSERT_TRUE(plain);
  EXPECT_TRUE(plain->body == expected);

  const json info = Info("/f/big.bin");
  EXPECT_EQ(info["size"], 300000);
  EXPECT_EQ(info["sha256"], ContentSha256Hex(FileContent::FromBytes(expected)));

  auto records = Plain().Get("/_test/requests?path=/f/big.bin&full=1");
  ASSERT_TRUE(records);
  const json full = json::parse(records->body);
  ASSERT_EQ(full.size(), 2u);
  EXPECT_EQ(full[0]["listener"], "https");
  EXPECT_EQ(full[1]["listener"], "http");
  EXPECT_EQ(full[1]["method"], "GET");
}

TEST_F(FileHostTest, FolderFilesAreServedUnknownPathsAreNot) {
  WriteFile(data_.path() / "files" / "sub" / "x.bin", std::string("\0\x01\x02zz", 5));
  auto res = Plain().Get("/f/sub/x.bin");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, std::string("\0\x01\x02zz", 5));
  EXPECT_EQ(Info("/f/sub/x.bin")["size"], 5);

  EXPECT_EQ(Plain().Get("/f/missing.bin")->status, 404);
  EXPECT_EQ(Plain().Get("/elsewhere")->status, 404);
  EXPECT_EQ(Plain().Get("/f/sub/%2e%2e/sub/x.bin")->status, 404);
  EXPECT_TRUE(Info("/f/missing.bin").is_null());

  // A behaviour replaces the folder's file; removing it brings the file back.
  ASSERT_EQ(SetFile({{"path", "/f/sub/x.bin"}, {"body", "over"}}), 200);
  EXPECT_EQ(Plain().Get("/f/sub/x.bin")->body, "over");
  ASSERT_EQ(SetFile({{"path", "/f/sub/x.bin"}, {"remove", true}}), 200);
  EXPECT_EQ(Plain().Get("/f/sub/x.bin")->body.size(), 5u);

  // Any path can be given content, not only /f/.
  ASSERT_EQ(SetFile({{"path", "/downloads/setup.exe"}, {"bodyBase64", "TVqQAA=="}}), 200);
  EXPECT_EQ(Plain().Get("/downloads/setup.exe")->body, std::string("MZ\x90\0", 4));
}

// Raw request lines, so no client tidies the path before the server sees it.
TEST_F(FileHostTest, NothingOutsideTheFileFolderIsServed) {
  const std::string secret = "secret outside the folder";
  WriteFile(data_.path() / "secret.txt", secret);
  WriteFile(data_.path() / "files" / "inside.bin", "inside");
  std::filesystem::create_symlink(data_.path() / "secret.txt", data_.path() / "files" / "leak.bin");
  std::filesystem::create_directory_symlink(data_.path(), data_.path() / "files" / "up");
  const std::string key = certs_.key.string();
  const std::string keyEncoded = [&] {
    std::string out;
    for (char c : key) out += c == '/' ? std::string("%2F") : std::string(1, c);
    return out;
  }();

  const std::vector<std::string> targets = {
      "/f/" + key,
      "/f/" + keyEncoded,
      "/f/%2F" + keyEncoded.substr(3),
      "/f/%2f" + keyEncoded.substr(3),
      "/f/%5C" + keyEncoded.substr(3),
      "/f/../secret.txt",
      "/f/%2e%2e/secret.txt",
      "/f/%2E%2E%2Fsecret.txt",
      "/f/.%2e/secret.txt",
      "/f/..%5Csecret.txt",
      "/f/..\\secret.txt",
      "/f/inside.bin/../../secret.txt",
      "/f/leak.bin",
      "/f/up/secret.txt",
      "/f/up/files/../secret.txt",
  };
  for (const std::string& target : targets) {
    for (bool secure : {false, true}) {
      const WireAnswer answer = RawGetClosing(target, secure);
      EXPECT_EQ(answer.statusLine, "HTTP/1.1 404 Not Found") << target << (secure ? " (https)" : " (http)");
      EXPECT_EQ(answer.body.find(secret), std::string::npos) << target;
      EXPECT_EQ(answer.body.find("PRIVATE KEY"), std::string::npos) << target;
    }
  }
  EXPECT_TRUE(Info("/f/leak.bin").is_null());
  EXPECT_TRUE(Info("/f/" + keyEncoded).is_null());
  // The folder's own files still come through, also by way of a link that stays inside.
  EXPECT_EQ(RawGetClosing("/f/inside.bin").body, "inside");
  EXPECT_EQ(RawGetClosing("/f/up/files/inside.bin").body, "inside");
}

// Tests upload installers and archives far larger than any wizard request.
TEST_F(FileHostTest, ControlUploadsMayBeMuchLargerThanWizardRequests) {
  std::string bytes = Generated(3 * 1024 * 1024, 17);
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string base64;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const unsigned group = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) base64 += kAlphabet[(group >> shift) & 63];
  }
  ASSERT_EQ(SetFile({{"path", "/f/setup.exe"}, {"bodyBase64", base64}}), 200);
  auto res = Plain().Get("/f/setup.exe");
  ASSERT_TRUE(res);
  EXPECT_TRUE(res->body == bytes);
}

TEST_F(FileHostTest, ChunkedAndCloseDelimitedBodiesCarryNoLength) {
  const std::string expected = Generated(20000, 9);
  ASSERT_EQ(
      SetFile({{"path", "/f/chunked"}, {"size", 20000}, {"seed", 9}, {"framing", "chunked"}, {"chunkBytes", 7000}}),
      200);
  ASSERT_EQ(SetFile({{"path", "/f/close"}, {"size", 20000}, {"seed", 9}, {"framing", "close"}}), 200);

  WireAnswer chunked = RawGetClosing("/f/chunked");
  EXPECT_EQ(chunked.statusLine, "HTTP/1.1 200 OK");
  EXPECT_TRUE(chunked.Has("Transfer-Encoding: chunked")) << chunked.headers;
  EXPECT_FALSE(chunked.HasName("Content-Length")) << chunked.headers;
  bool complete = false;
  EXPECT_TRUE(Unchunk(chunked.body, complete) == expected);
  EXPECT_TRUE(complete);

  // The server ends the body by closing, although the client asked to keep the
  // connection; without that the exchange would wait for the keep-alive timeout.
  const auto start = std::chrono::steady_clock::now();
  WireAnswer close = RawGet("/f/close", true);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(close.statusLine, "HTTP/1.1 200 OK");
  EXPECT_FALSE(close.HasName("Content-Length")) << close.headers;
  EXPECT_FALSE(close.HasName("Transfer-Encoding")) << close.headers;
  EXPECT_TRUE(close.body == expected);
}

TEST_F(FileHostTest, CutBodiesKeepTheAnnouncedLength) {
  ASSERT_EQ(SetFile({{"path", "/f/short"}, {"size", 100}, {"cutAfter", 99}}), 200);
  WireAnswer shortBody = RawGet("/f/short");
  EXPECT_TRUE(shortBody.Has("Content-Length: 100")) << shortBody.headers;
  EXPECT_TRUE(shortBody.body == Generated(100, 1).substr(0, 99));

  // Past 4 GiB: the announced length does not fit 32 bits; 1000 bytes come, then the end.
  ASSERT_EQ(SetFile({{"path", "/f/huge"}, {"size", 1000}, {"contentLength", 4294967396ull}}), 200);
  WireAnswer huge = RawGet("/f/huge", true);
  EXPECT_TRUE(huge.Has("Content-Length: 4294967396")) << huge.headers;
  EXPECT_EQ(huge.body.size(), 1000u);

  // Without a length the cut looks like an end; chunked has no last chunk.
  ASSERT_EQ(
      SetFile(
          {{"path", "/f/cutchunks"}, {"size", 5000}, {"framing", "chunked"}, {"cutAfter", 3000}, {"chunkBytes", 1000}}),
      200);
  bool complete = true;
  EXPECT_EQ(Unchunk(RawGet("/f/cutchunks").body, complete).size(), 3000u);
  EXPECT_FALSE(complete);
}

TEST_F(FileHostTest, ACutCanEndInNoiseThatBreaksTls) {
  ASSERT_EQ(SetFile({{"path", "/f/closed"}, {"size", 100000}, {"cutAfter", 5000}}), 200);
  ASSERT_EQ(SetFile({{"path", "/f/noisy"}, {"size", 100000}, {"cutAfter", 5000}, {"cutWith", "noise"}}), 200);
  // A plain cut is a bare close; the noise is no record at all.
  EXPECT_EQ(HowTheTlsReadsEnd("/f/closed"), SSL_ERROR_ZERO_RETURN);
  EXPECT_EQ(HowTheTlsReadsEnd("/f/noisy"), SSL_ERROR_SSL);
  // Over plain HTTP the noise is simply more bytes after the cut.
  const WireAnswer plain = RawGet("/f/noisy");
  EXPECT_TRUE(plain.body == Generated(100000, 1).substr(0, 5000) + "this is not a TLS record\r\n");
}

TEST_F(FileHostTest, StatusesLocationsAndEmptyBodies) {
  ASSERT_EQ(SetFile({{"path", "/f/partial"}, {"status", 206}, {"body", "part"}}), 200);
  ASSERT_EQ(SetFile({{"path", "/f/gone"}, {"status", 404}}), 200);
  ASSERT_EQ(SetFile({{"path", "/f/empty"}, {"body", ""}}), 200);
  ASSERT_EQ(SetFile({{"path", "/f/none"}, {"status", 204}, {"framing", "close"}}), 200);
  ASSERT_EQ(SetFile({{"path", "/f/moved"}, {"status", 300}, {"location", "ftp://127.0.0.4/x.bin"}}), 200);
  ASSERT_EQ(SetFile({{"path", "/f/nowhere"}, {"status", 302}}), 200);

  WireAnswer partial = RawGetClosing("/f/partial");
  EXPECT_EQ(partial.statusLine, "HTTP/1.1 206 Partial Content");
  EXPECT_EQ(partial.body, "part");
  WireAnswer gone = RawGetClosing("/f/gone");
  EXPECT_EQ(gone.statusLine, "HTTP/1.1 404 Not Found");
  EXPECT_TRUE(gone.Has("Content-Length: 0")) << gone.headers;
  WireAnswer empty = RawGetClosing("/f/empty");
  EXPECT_EQ(empty.statusLine, "HTTP/1.1 200 OK");
  EXPECT_TRUE(empty.Has("Content-Length: 0")) << empty.headers;
  WireAnswer none = RawGet("/f/none");
  EXPECT_EQ(none.statusLine, "HTTP/1.1 204 No Content");
  EXPECT_FALSE(none.HasName("Content-Length")) << none.headers;
  WireAnswer moved = RawGetClosing("/f/moved");
  EXPECT_EQ(moved.statusLine.substr(0, 13), "HTTP/1.1 300 ");
  EXPECT_TRUE(moved.Has("Location: ftp://127.0.0.4/x.bin")) << moved.headers;
  WireAnswer nowhere = RawGetClosing("/f/nowhere");
  EXPECT_EQ(nowhere.statusLine, "HTTP/1.1 302 Found");
  EXPECT_FALSE(nowhere.HasName("Location")) << nowhere.headers;
}

TEST_F(FileHostTest, RedirectChainsEndAtTheContent) {
  ASSERT_EQ(SetFile({{"path", "/f/r.bin"}, {"body", "end"}, {"redirect", {{"hops", 3}, {"scheme", "alternate"}}}}),
            200);
  const std::string http = "http://" + address_ + ":" + std::to_string(*server_->HttpPort());
  const std::string https = "https://" + address_ + ":" + std::to_string(server_->HttpsPort());

  auto first = Secure()->Get("/f/r.bin");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 302);
  EXPECT_EQ(first->get_header_value("Location"), http + "/f/r.bin?hop=1");
  auto second = Plain().Get("/f/r.bin?hop=1");
  EXPECT_EQ(second->get_header_value("Location"), https + "/f/r.bin?hop=2");
  auto third = Secure()->Get("/f/r.bin?hop=2");
  EXPECT_EQ(third->get_header_value("Location"), http + "/f/r.bin?hop=3");
  auto last = Plain().Get("/f/r.bin?hop=3");
  EXPECT_EQ(last->status, 200);
  EXPECT_EQ(last->body, "end");

  // A relative chain names the next hop by the last segment; "to" ends it verbatim.
  ASSERT_EQ(SetFile({{"path", "/f/d/rel.bin"},
                     {"redirect", {{"hops", 3}, {"status", 307}, {"relative", true}, {"to", "../target.bin"}}}}),
            200);
  auto relative = Plain().Get("/f/d/rel.bin");
  EXPECT_EQ(relative->status, 307);
  EXPECT_EQ(relative->get_header_value("Location"), "rel.bin?hop=1");
  EXPECT_EQ(Plain().Get("/f/d/rel.bin?hop=2")->get_header_value("Location"), "../target.bin");
  // Past the chain the path serves its content (none here: an empty body).
  auto beyond = Plain().Get("/f/d/rel.bin?hop=3");
  EXPECT_EQ(beyond->status, 200);
  EXPECT_EQ(beyond->body, "");
}

TEST_F(FileHostTest, FirstRequestsFailThenTheFileIsServed) {
  ASSERT_EQ(SetFile({{"path", "/f/flaky"}, {"body", "ok"}, {"failFirst", 2}, {"failStatus", 500}}), 200);
  EXPECT_EQ(Plain().Get("/f/flaky")->status, 500);
  EXPECT_EQ(Secure()->Get("/f/flaky")->status, 500);
  auto third = Plain().Get("/f/flaky");
  EXPECT_EQ(third->status, 200);
  EXPECT_EQ(third->body, "ok");

  // The server-wide fault plan reaches file paths as well.
  auto plan = Plain().Post("/_test/faults", R"({"path":"/f/flaky","statuses":[503]})", "application/json");
  ASSERT_EQ(plan->status, 200);
  EXPECT_EQ(Plain().Get("/f/flaky")->status, 503);
  EXPECT_EQ(Plain().Get("/f/flaky")->body, "ok");
}

TEST_F(FileHostTest, SlowDeliveryTakesItsTime) {
  ASSERT_EQ(SetFile({{"path", "/f/slow"}, {"size", 5000}, {"chunkBytes", 1000}, {"chunkDelayMs", 150}}), 200);
  const auto start = std::chrono::steady_clock::now();
  auto res = Plain().Get("/f/slow");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body.size(), 5000u);
  // Four pauses at least lie between five pieces.
  EXPECT_GE(elapsed, std::chrono::milliseconds(600));
}

TEST_F(FileHostTest, PathsWithABehaviourAnswerPostsTheSameWay) {
  ASSERT_EQ(
      SetFile({{"path", "/j/cut"}, {"size", 3000}, {"framing", "chunked"}, {"cutAfter", 1000}, {"chunkBytes", 500}}),
      200);
  const std::string request =
      "POST /j/cut HTTP/1.1\r\nHost: " + address_ + "\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n{}";
  const WireAnswer cut = Split(RawExchange(address_, *server_->HttpPort(), {}, {request}));
  EXPECT_EQ(cut.statusLine, "HTTP/1.1 200 OK");
  bool complete = true;
  EXPECT_EQ(Unchunk(cut.body, complete).size(), 1000u);
  EXPECT_FALSE(complete);

  // The post is recorded with its body, as on every public path.
  auto records = Plain().Get("/_test/requests?path=/j/cut&full=1");
  ASSERT_TRUE(records);
  const json full = json::parse(records->body);
  ASSERT_EQ(full.size(), 1u);
  EXPECT_EQ(full[0]["method"], "POST");
  EXPECT_EQ(full[0]["body"], "{}");

  // Without a behaviour a POST finds nothing, folder files included.
  WriteFile(data_.path() / "files" / "x.bin", "x");
  EXPECT_EQ(Plain().Post("/f/x.bin", "{}", "application/json")->status, 404);
  EXPECT_EQ(Plain().Post("/elsewhere", "{}", "application/json")->status, 404);
}

TEST_F(FileHostTest, ControlRequestsAreCheckedAndResetForgetsFiles) {
  auto bad = Plain().Post("/_test/files", R"({"path":"/f/a","framing":"zip"})", "application/json");
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->status, 400);
  EXPECT_NE(bad->body.find("framing"), std::string::npos);
  EXPECT_EQ(Plain().Post("/_test/files", "not json", "application/json")->status, 400);

  ASSERT_EQ(SetFile({{"path", "/f/a"}, {"body", "x"}, {"status", 206}}), 200);
  Plain().Get("/f/a");
  auto listed = Plain().Get("/_test/files");
  const json all = json::parse(listed->body);
  EXPECT_EQ(all["/f/a"]["status"], 206);
  EXPECT_EQ(all["/f/a"]["requests"], 1);
  EXPECT_FALSE(all["/f/a"].contains("body"));

  ASSERT_EQ(Plain().Post("/_test/reset", "{}", "application/json")->status, 200);
  EXPECT_EQ(Plain().Get("/f/a")->status, 404);
  EXPECT_TRUE(json::parse(Plain().Get("/_test/files")->body).empty());
}

std::string HeaderValue(const WireAnswer& answer, const std::string& name) {
  const std::size_t at = answer.headers.find(name + ": ");
  if (at == std::string::npos) return {};
  const std::size_t start = at + name.size() + 2;
  return answer.headers.substr(start, answer.headers.find("\r\n", start) - start);
}

TEST_F(FileHostTest, RangesAreAnsweredAsHttpSays) {
  ASSERT_EQ(SetFile({{"path", "/f/r"}, {"size", 1000}, {"seed", 7}}), 200);
  const WireAnswer plain = RawGetClosing("/f/r");
  const std::string etag = HeaderValue(plain, "ETag");
  const std::string modified = HeaderValue(plain, "Last-Modified");
  ASSERT_EQ(etag.front(), '"') << plain.headers;
  ASSERT_FALSE(modified.empty()) << plain.headers;
  EXPECT_TRUE(plain.Has("Accept-Ranges: bytes")) << plain.headers;
  EXPECT_FALSE(HeaderValue(plain, "Date").empty());
  const std::string bytes = Generated(1000, 7);

  struct Case {
    const char* name;
    std::string headers;
    const char* status;
    std::string contentRange;  // "" for none
    std::string body;
  };
  const Case cases[] = {
      {"open range", "Range: bytes=900-\r\n", "206", "bytes 900-999/1000", bytes.substr(900)},
      {"closed range", "Range: bytes=10-19\r\n", "206", "bytes 10-19/1000", bytes.substr(10, 10)},
      {"last byte past the end", "Range: bytes=990-5000\r\n", "206", "bytes 990-999/1000", bytes.substr(990)},
      {"suffix", "Range: bytes=-5\r\n", "206", "bytes 995-999/1000", bytes.substr(995)},
      {"past the end", "Range: bytes=1000-\r\n", "416", "bytes */1000", ""},
      {"matching tag", "Range: bytes=500-\r\nIf-Range: " + etag + "\r\n", "206", "bytes 500-999/1000",
       bytes.substr(500)},
      {"matching date", "Range: bytes=500-\r\nIf-Range: " + modified + "\r\n", "206", "bytes 500-999/1000",
       bytes.substr(500)},
      {"other tag", "Range: bytes=500-\r\nIf-Range: \"other\"\r\n", "200", "", bytes},
      {"weak tag", "Range: bytes=500-\r\nIf-Range: W/" + etag + "\r\n", "200", "", bytes},
      {"other date", "Range: bytes=500-\r\nIf-Range: Sun, 06 Nov 1994 08:49:37 GMT\r\n", "200", "", bytes},
      {"several ranges", "Range: bytes=0-1,5-6\r\n", "200", "", bytes},
  };
  for (const Case& c : cases) {
    const WireAnswer answer = RawGetClosing("/f/r", false, c.headers);
    EXPECT_EQ(answer.statusLine.substr(9, 3), c.status) << c.name;
    EXPECT_EQ(HeaderValue(answer, "Content-Range"), c.contentRange) << c.name;
    EXPECT_EQ(HeaderValue(answer, "Content-Length"), std::to_string(c.body.size())) << c.name;
    EXPECT_TRUE(answer.body == c.body) << c.name << ": " << answer.body.size() << " bytes";
  }

  // Other bytes, other tag; a host without ranges always sends the whole file.
  ASSERT_EQ(SetFile({{"path", "/f/r"}, {"size", 1000}, {"seed", 8}, {"ranges", false}}), 200);
  const WireAnswer whole = RawGetClosing("/f/r", true, "Range: bytes=900-\r\n");
  EXPECT_EQ(whole.statusLine, "HTTP/1.1 200 OK");
  EXPECT_NE(HeaderValue(whole, "ETag"), etag);
  EXPECT_FALSE(whole.HasName("Accept-Ranges")) << whole.headers;
  EXPECT_EQ(whole.body.size(), 1000u);
  // Validators can be replaced or left out.
  ASSERT_EQ(SetFile({{"path", "/f/v"}, {"body", "abc"}, {"etag", "W/\"x\""}, {"lastModified", false}}), 200);
  const WireAnswer weak = RawGetClosing("/f/v");
  EXPECT_EQ(HeaderValue(weak, "ETag"), "W/\"x\"");
  EXPECT_FALSE(weak.HasName("Last-Modified")) << weak.headers;
}

TEST_F(FileHostTest, ACutOnTheFirstRequestsOnlyLetsAResumeFinish) {
  ASSERT_EQ(SetFile({{"path", "/f/c"}, {"size", 10000}, {"cutAfter", 3000}, {"cutFirst", 2}}), 200);
  const std::string bytes = Generated(10000, 1);
  // Each cut answer stops 3000 bytes into its own body, a range's included.
  EXPECT_TRUE(RawGetClosing("/f/c").body == bytes.substr(0, 3000));
  const WireAnswer second = RawGetClosing("/f/c", false, "Range: bytes=3000-\r\n");
  EXPECT_EQ(HeaderValue(second, "Content-Range"), "bytes 3000-9999/10000");
  EXPECT_TRUE(second.body == bytes.substr(3000, 3000));
  const WireAnswer third = RawGetClosing("/f/c", true, "Range: bytes=6000-\r\n");
  EXPECT_TRUE(third.body == bytes.substr(6000));
  // The host tells how many body bytes it sent for the path: each byte once.
  EXPECT_EQ(json::parse(Plain().Get("/_test/files")->body)["/f/c"]["bodyBytesSent"], 10000);
  EXPECT_EQ(SetFile({{"path", "/f/c"}, {"size", 10}, {"cutFirst", 1}}), 400);
}

}  // namespace
}  // namespace ostrel
