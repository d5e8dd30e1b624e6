#include <cctype>

#include <gtest/gtest.h>

#include "analytics_service.h"
#include "test_support.h"

namespace ostrel {
namespace {

using nlohmann::json;
using testing::EventEnvelope;
using testing::SignatureFor;
using testing::WizardEvent;

TEST(Sha256Test, MatchesPublishedVectors) {
  // FIPS 180-2 test vectors.
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(SignatureTest, IsPrefixAndLowerCaseHexOfIdThenTimestamp) {
  json event = WizardEvent({});
  std::string signature = ExpectedSignature(event["1"], event["2"]);
  EXPECT_EQ(signature, SignatureFor(event));
  ASSERT_EQ(signature.size(), 74u);
  for (char c : signature.substr(10)) EXPECT_TRUE(std::isdigit(c) || (c >= 'a' && c <= 'f')) << signature;
  // The order of the two inputs matters.
  EXPECT_NE(signature, ExpectedSignature(event["2"], event["1"]));
}

class CheckEventTest : public ::testing::Test {
 protected:
  json event_ = WizardEvent({{"5", "OFR-7"}, {"6", "4"}, {"10", 2}, {"22", "Kelvanor Pro"}});
  std::string body_ = EventEnvelope(event_);
  std::string good_ = SignatureFor(event_);
};

TEST_F(CheckEventTest, AcceptsSignedEventAndKeepsFieldTypes) {
  EventCheck check = CheckEvent(body_, {good_});
  ASSERT_EQ(check.status, 200) << check.message;
  EXPECT_EQ(check.table, "zb_analytics");
  EXPECT_EQ(check.data, event_);
  EXPECT_TRUE(check.data["10"].is_number());
  EXPECT_TRUE(check.data["6"].is_string());
}

TEST_F(CheckEventTest, RefusesMissingOrWrongSignatureWith401) {
  std::string flipped = good_;
  flipped.back() = flipped.back() == '0' ? '1' : '0';
  std::string upper = good_;
  for (std::size_t i = 10; i < upper.size(); ++i) upper[i] = static_cast<char>(std::toupper(upper[i]));
  ASSERT_NE(upper, good_) << "digest without letters; pick another machine id";

  json otherMachine = event_;
  otherMachine["1"] = "{00000000-0000-0000-0000-000000000000}";

  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"missing header", {}},
      {"last digit changed", {flipped}},
      {"upper-case hex", {upper}},
      {"no Signature= prefix", {good_.substr(10)}},
      {"bare prefix", {"Signature="}},
      {"timestamp before machine id", {ExpectedSignature(event_["2"], event_["1"])}},
      {"signature of another machine", {SignatureFor(otherMachine)}},
      {"trailing space", {good_ + " "}},
      {"header twice", {good_, good_}},
  };
  for (const auto& [what, headers] : cases) {
    EventCheck check = CheckEvent(body_, headers);
    EXPECT_EQ(check.status, 401) << what;
    EXPECT_TRUE(check.data.is_null()) << what;
  }
}

TEST_F(CheckEventTest, SignatureCoversTheFieldsInsideData) {
  // A valid signature for one event does not carry over to a body with other ids.
  json forged = event_;
  forged["2"] = "20991231235959";
  EXPECT_EQ(CheckEvent(EventEnvelope(forged), {good_}).status, 401);
  EXPECT_EQ(CheckEvent(EventEnvelope(forged), {SignatureFor(forged)}).status, 200);
}

TEST_F(CheckEventTest, RefusesMalformedEnvelopesWith400) {
  json dataAsObject = {{"data", event_}, {"table", "zb_analytics"}};
  json dataNotJson = {{"data", "{not json"}, {"table", "zb_analytics"}};
  json dataArray = {{"data", "[1,2]"}, {"table", "zb_analytics"}};
  json noTable = {{"data", event_.dump()}};
  json idAsNumber = event_;
  idAsNumber["1"] = 12345;
  json noTimestamp = event_;
  noTimestamp.erase("2");

  const std::vector<std::pair<std::string, std::string>> cases = {
      {"not JSON", "data=x"},
      {"empty body", ""},
      {"array", "[]"},
      {"data as object", dataAsObject.dump()},
      {"data text not JSON", dataNotJson.dump()},
      {"data text an array", dataArray.dump()},
      {"no table", noTable.dump()},
      {"field 1 a number", EventEnvelope(idAsNumber)},
      {"field 2 missing", EventEnvelope(noTimestamp)},
  };
  for (const auto& [what, body] : cases) {
    EventCheck check = CheckEvent(body, {good_});
    EXPECT_EQ(check.status, 400) << what << ": " << check.message;
  }
}

TEST_F(CheckEventTest, RefusesOtherTablesEvenWhenSigned) {
  EventCheck check = CheckEvent(EventEnvelope(event_, "zb_other"), {good_});
  EXPECT_EQ(check.status, 400);
  EXPECT_NE(check.message.find("zb_other"), std::string::npos);
}

}  // namespace
}  // namespace ostrel
