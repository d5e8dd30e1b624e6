// Request bodies an attacker would send: nesting that would exhaust a stack,
// bodies far larger than anything the wizard sends, bodies without a length.
// Each is refused, and the server goes on answering.
#include <gtest/gtest.h>

#include "body_json.h"
#include "server.h"
#include "server_fixture.h"
#include "test_support.h"

namespace ostrel {
namespace {

using nlohmann::json;
using testing::EventEnvelope;
using testing::RawExchange;
using testing::SignatureFor;
using testing::WizardEvent;
using testing::WriteFile;

std::string Nested(std::size_t depth, const std::string& open = "[", const std::string& close = "]") {
  std::string text;
  for (std::size_t i = 0; i < depth; ++i) text += open;
  text += "1";
  for (std::size_t i = 0; i < depth; ++i) text += close;
  return text;
}

std::string NestedObjects(std::size_t depth) { return Nested(depth, "{\"a\":", "}"); }

TEST(BodyJsonTest, NestingUpToTheLimitIsReadDeeperIsRefused) {
  const BodyJson atLimit = ParseBodyJson(Nested(kMaxJsonDepth));
  ASSERT_TRUE(atLimit.Parsed());
  EXPECT_EQ(atLimit.value.dump(), Nested(kMaxJsonDepth));
  EXPECT_TRUE(ParseBodyJson(NestedObjects(kMaxJsonDepth)).Parsed());

  const std::vector<std::string> tooDeep = {
      Nested(kMaxJsonDepth + 1),
      NestedObjects(kMaxJsonDepth + 1),
      Nested(40, "[{\"a\":", "}]"),
      "{\"1\":\"x\",\"3\":" + Nested(100000) + "}",
      // Unclosed: refused for its depth before the end shows it is malformed.
      std::string(1000000, '['),
  };
  for (const std::string& text : tooDeep) {
    const BodyJson parsed = ParseBodyJson(text);
    EXPECT_EQ(parsed.verdict, BodyJson::Verdict::TooDeep) << text.substr(0, 40);
    EXPECT_TRUE(parsed.value.is_null());
  }
}

TEST(BodyJsonTest, BracketsInsideStringsAreNotNesting) {
  const std::string text = "{\"a\":\"" + std::string(5000, '[') + "\"}";
  const BodyJson parsed = ParseBodyJson(text);
  ASSERT_TRUE(parsed.Parsed());
  EXPECT_EQ(parsed.value["a"].get<std::string>().size(), 5000u);
  for (const std::string bad : {"", "{", "not json", "{\"a\":1} x", "[1,]"}) {
    EXPECT_EQ(ParseBodyJson(bad).verdict, BodyJson::Verdict::Malformed) << bad;
  }
}

class HostileBodyTest : public testing::ServerFixture<31> {
 protected:
  void SetUp() override {
    WriteFile(data_.path() / "configs" / "default.json", "{\"i\":{}}");
    StartServer(Options());
  }

  // The raw answer to bytes sent as they are, "" when the connection closed
  // without one.
  std::string Raw(const std::string& bytes) { return RawExchange(address_, server_->HttpsPort(), certs_.ca, {bytes}); }

  static std::string Head(const std::string& path, const std::string& lines) {
    return "POST " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: application/json\r\n" + lines +
           "\r\n";
  }

  static std::string Post(const std::string& path, const std::string& body, const std::string& extra = "") {
    return Head(path, extra + "Content-Length: " + std::to_string(body.size()) + "\r\n") + body;
  }

  static std::string Chunked(const std::string& path, const std::string& body, const std::string& extra = "") {
    std::string out = Head(path, extra + "Transfer-Encoding: chunked\r\n");
    for (std::size_t at = 0; at < body.size(); at += 4096) {
      const std::string piece = body.substr(at, 4096);
      char size[16];
      std::snprintf(size, sizeof size, "%zx", piece.size());
      out += std::string(size) + "\r\n" + piece + "\r\n";
    }
    return out + "0\r\n\r\n";
  }

  static std::string StatusOf(const std::string& raw) { return raw.substr(0, raw.find("\r\n")); }

  // A well-formed signed event is still taken and stored.
  void ExpectStillServing(const std::string& after) {
    const json event = WizardEvent({{"5", "OFR-" + std::to_string(++sent_)}, {"6", "4"}, {"10", 2}});
    const std::string answer =
        Raw(Post("/zbd", EventEnvelope(event), "Authorization: " + SignatureFor(event) + "\r\n"));
    EXPECT_EQ(StatusOf(answer), "HTTP/1.1 200 OK") << "after " << after;
    EXPECT_EQ(server_->GetStore().EventCount(), sent_) << "after " << after;
  }

  int sent_ = 0;
};

TEST_F(HostileBodyTest, DeepJsonIsRefusedWith400AndNothingIsStored) {
  const json shallow = WizardEvent({});
  const std::string signature = "Authorization: " + SignatureFor(shallow) + "\r\n";
  // An event whose data holds a field nested deeper than the limit, signed as the
  // wizard signs: the signature only covers fields "1" and "2".
  auto deepEvent = [&](std::size_t depth) {
    std::string data = shallow.dump();
    data.pop_back();
    data += ",\"3\":" + Nested(depth) + "}";
    return json{{"data", data}, {"table", "zb_analytics"}}.dump();
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"event field 65 deep", Post("/zbd", deepEvent(65), signature)},
      {"event field 20000 deep", Post("/zbd", deepEvent(20000), signature)},
      {"envelope 65 deep", Post("/zbd", "{\"data\":" + Nested(65) + "}", signature)},
      {"configuration request 65 deep", Post("/o", "{\"u\":\"x\",\"p\":" + Nested(65) + "}")},
      {"configuration request 6000 deep", Post("/o", "{\"u\":" + NestedObjects(6000) + "}")},
  };
  for (const auto& [what, request] : cases) {
    const std::string answer = Raw(request);
    EXPECT_EQ(StatusOf(answer), "HTTP/1.1 400 Bad Request") << what;
    ExpectStillServing(what);
  }
}

TEST_F(HostileBodyTest, BodiesLargerThanTheEndpointTakesAreRefused) {
  const json event = WizardEvent({});
  const std::string signature = "Authorization: " + SignatureFor(event) + "\r\n";
  // Valid JSON padded past the limit: only its size is wrong.
  const std::string padded = EventEnvelope(event) + std::string(kMaxEndpointBody, ' ');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"event with a length over the limit", Post("/zbd", padded, signature)},
      {"configuration request over the limit", Post("/o", "{}" + std::string(kMaxEndpointBody, ' '))},
      {"length announced, body never sent", Head("/zbd", signature + "Content-Length: 4294967296\r\n")},
      {"chunked event over the limit", Chunked("/zbd", padded, signature)},
      {"chunked to an unknown path", Chunked("/nothing-here", padded)},
  };
  for (const auto& [what, request] : cases) {
    EXPECT_EQ(StatusOf(Raw(request)), "HTTP/1.1 413 Payload Too Large") << what;
    ExpectStillServing(what);
  }
  // Right at the limit the body is read (and judged on what it says).
  std::string atLimit = EventEnvelope(event);
  atLimit += std::string(kMaxEndpointBody - atLimit.size(), ' ');
  EXPECT_EQ(StatusOf(Raw(Post("/zbd", atLimit, signature))), "HTTP/1.1 200 OK");
  EXPECT_EQ(StatusOf(Raw(Chunked("/zbd", atLimit, signature))), "HTTP/1.1 200 OK");
  sent_ += 2;
  ExpectStillServing("bodies at the limit");
}

TEST_F(HostileBodyTest, MethodsNoRouteTakesAreRefusedBeforeTheirBodies) {
  for (const std::string method : {"PUT", "DELETE", "PATCH", "OPTIONS"}) {
    // No length and no chunks: httplib would read until the connection ends.
    const std::string request = method + " /zbd HTTP/1.1\r\nHost: x\r\n\r\n" + std::string(100000, 'x');
    EXPECT_EQ(StatusOf(Raw(request)), "HTTP/1.1 404 Not Found") << method;
    ExpectStillServing(method);
  }
  EXPECT_TRUE(server_->GetStore().Requests(std::string("/zbd")).size() == static_cast<std::size_t>(sent_));
}

}  // namespace
}  // namespace ostrel
