// Signed configuration answers against a reference server that signs them:
// which answers a build with keys trusts, the nonce each attempt carries, and
// builds without keys, which behave as they always did.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>

#include "api/ApiManager.h"
#include "core/ConfigurationManager.h"
#include "core/OstrelException.h"
#include "tests/common/TestServer.h"

namespace {

using nlohmann::json;
using ostrel::testing::TestServer;

class SignedConfiguration : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Reset()) << "reference server on 127.0.0.2 not reachable";
        ConfigurationManager::GetInstance()->configurationUrl = server.Url(L"/o");
        served = KeyIn(L"signing");
        other = KeyIn(L"other-signing");
        ASSERT_EQ(served.size(), 1u);
        ASSERT_EQ(other.size(), 1u);
    }

    // The public key the server's keygen wrote into a folder of its data.
    std::vector<ConfigurationKey> KeyIn(const std::wstring& folder) const {
        const std::string pem = server.ReadDataFile(folder + L"\\config-signing.pub").value_or(std::string());
        // The base64 lines between the BEGIN and END lines.
        std::string body;
        for (size_t at = 0; at < pem.size();) {
            const size_t end = std::min(pem.find('\n', at), pem.size());
            if (pem[at] != '-') body += pem.substr(at, end - at);
            at = end + 1;
        }
        return ConfigurationKeysFrom({body});
    }

    void Tamper(const json& plan) { ASSERT_TRUE(server.SetSignatureTamper(plan)) << plan.dump(); }

    // The X-Ostrel-Nonce of every request the server saw ("" when one had none).
    std::vector<std::string> Nonces() const {
        std::vector<std::string> nonces;
        for (const json& request : server.FullRequests(L"/o")) {
            std::string nonce;
            for (const json& header : request["headers"]) {
                if (header[0] == "X-Ostrel-Nonce") nonce = header[1].get<std::string>();
            }
            nonces.push_back(nonce);
        }
        return nonces;
    }

    TestServer server{L"127.0.0.2"};
    std::vector<ConfigurationKey> served;
    std::vector<ConfigurationKey> other;
};

TEST_F(SignedConfiguration, OnlyAnAnswerSignedForThisRequestByAKeyOfTheBuildIsTrusted) {
    const std::string id = served[0].id;
    const std::vector<ConfigurationKey> both = {other[0], served[0]};
    struct Case {
        const char* name;
        json tamper;
        std::vector<ConfigurationKey> keys;
        bool trusted;
    };
    const Case cases[] = {
        {"signed", {{"tamper", "none"}}, served, true},
        {"signed by the second key of the build", {{"tamper", "none"}}, both, true},
        {"signed by a key the build does not know", {{"tamper", "none"}}, other, false},
        {"one byte of the answer changed", {{"tamper", "flip-body"}}, served, false},
        {"the signature of another nonce", {{"tamper", "other-nonce"}}, served, false},
        {"the signature of another request", {{"tamper", "other-request"}}, served, false},
        {"no signature", {{"tamper", "omit"}}, served, false},
        {"not base64", {{"tamper", "header"}, {"header", id + ":not base64!"}}, served, false},
        {"too short", {{"tamper", "header"}, {"header", id + ":AAAA"}}, served, false},
        {"no colon", {{"tamper", "header"}, {"header", id + std::string(88, 'A')}}, served, false},
        {"a key id in capitals", {{"tamper", "header"}, {"header", "ABCDEF0123456789:AAAA"}}, served, false},
        // A build without keys takes either, as before signatures existed.
        {"no keys, signing server", {{"tamper", "none"}}, {}, true},
        {"no keys, unsigned answer", {{"tamper", "omit"}}, {}, true},
    };
    const std::string body = ApiManager::BuildConfigurationRequest();
    for (const Case& c : cases) {
        ASSERT_TRUE(server.Reset());
        Tamper(c.tamper);
        const ConfigurationReply reply = ApiManager::PostConfigurationRequest(server.Url(L"/o"), body, c.keys);
        EXPECT_EQ(reply.status, 200u) << c.name;
        EXPECT_EQ(reply.trusted, c.trusted) << c.name;
        EXPECT_TRUE(json::parse(reply.text, nullptr, false).is_object()) << c.name;
        // The request body stays byte for byte; only a build with keys sends a nonce.
        EXPECT_EQ(server.Requests(L"/o")[0].get<std::string>(), body) << c.name;
        const std::vector<std::string> nonces = Nonces();
        ASSERT_EQ(nonces.size(), 1u) << c.name;
        if (c.keys.empty()) {
            EXPECT_EQ(nonces[0], "") << c.name;
        } else {
            EXPECT_TRUE(std::regex_match(nonces[0], std::regex("[0-9a-f]{32}"))) << c.name << ": " << nonces[0];
        }
    }
}

TEST_F(SignedConfiguration, ABuildWithAKeyUsesNoUnsignedAnswerAndSendsANewNonceEachAttempt) {
    Tamper({{"tamper", "omit"}});
    // Three attempts, each refused: the configuration error, although every
    // answer was a well-formed configuration.
    EXPECT_THROW(ApiManager::GetInstance()->RequestConfiguration(served), OstrelException);
    const std::vector<std::string> nonces = Nonces();
    ASSERT_EQ(nonces.size(), 3u);
    EXPECT_EQ(std::set<std::string>(nonces.begin(), nonces.end()).size(), 3u);

    ASSERT_TRUE(server.Reset());
    const auto answer = ApiManager::GetInstance()->RequestConfiguration(served);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->is_object());
    EXPECT_EQ(server.Requests(L"/o").size(), 1u);
}

}  // namespace
