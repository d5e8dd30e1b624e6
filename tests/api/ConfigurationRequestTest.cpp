// The configuration request as the reference server receives it, and its
// retry rules.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "api/ApiManager.h"
#include "api/SystemProbes.h"
#include "core/ConfigurationManager.h"
#include "core/OstrelException.h"
#include "tests/common/TestServer.h"

namespace {

using nlohmann::json;
using ostrel::testing::TestServer;

class ConfigurationRequest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Reset()) << "reference server on 127.0.0.2 not reachable";
        settings = ConfigurationManager::GetInstance();
        settings->configurationUrl = server.Url(L"/o");
        settings->languageCode = L"es";
    }

    std::string LastRequest() {
        const json requests = server.Requests(L"/o");
        return requests.is_array() && !requests.empty() ? requests.back().get<std::string>() : std::string();
    }

    TestServer server{L"127.0.0.2"};
    std::shared_ptr<ConfigurationManager> settings;
};

TEST_F(ConfigurationRequest, SendsEightCompactFieldsInKeyOrder) {
    auto answer = ApiManager::GetInstance()->RequestConfiguration();
    ASSERT_TRUE(answer->is_object());
    const std::string sent = LastRequest();
    const std::string expected = R"({"a":"Kelvanor","i":"Kelvanor_DLM","l":"es","o":")" + GetOsVersionText() +
                                 R"(","plv":"0.0.9.0","prv":"0.1","s":"Kelvanor_3cpp","u":""})";
    EXPECT_EQ(sent, expected);
    // The prefix reports Windows 10.
    EXPECT_EQ(GetOsVersionText().rfind("10.0.", 0), 0u) << GetOsVersionText();
}

TEST_F(ConfigurationRequest, LanguageIsTwoLowerCaseLetters) {
    for (const auto& [code, sent] :
         std::vector<std::pair<std::wstring, std::string>>{{L"de-DE", "de"}, {L"PT", "pt"}, {L"x", "x"}, {L"", ""}}) {
        settings->languageCode = code;
        ApiManager::GetInstance()->RequestConfiguration();
        EXPECT_EQ(json::parse(LastRequest()).at("l"), sent);
    }
}

TEST_F(ConfigurationRequest, AFailedAttemptIsRetriedAndOnlyTheLastAnswerIsParsed) {
    ASSERT_TRUE(server.SetFaults({{"path", "/o"}, {"statuses", {503, 200}}, {"bodies", {"not json", R"({"x":1})"}}}));
    const auto started = std::chrono::steady_clock::now();
    auto answer = ApiManager::GetInstance()->RequestConfiguration();
    EXPECT_EQ(*answer, json({{"x", 1}}));
    EXPECT_EQ(server.Requests(L"/o").size(), 2u);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(4900));
}

TEST_F(ConfigurationRequest, AfterThreeFailuresTheLastJsonBodyStillCounts) {
    ASSERT_TRUE(server.SetFaults(
        {{"path", "/o"}, {"statuses", {500, 500, 500}}, {"bodies", {"no", "no", R"({"last":true})"}}}));
    const auto started = std::chrono::steady_clock::now();
    auto answer = ApiManager::GetInstance()->RequestConfiguration();
    EXPECT_EQ(*answer, json({{"last", true}}));
    EXPECT_EQ(server.Requests(L"/o").size(), 3u);
    // Three pauses: also after the last attempt.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(14900));
}

TEST_F(ConfigurationRequest, BlankOrNonJsonAnswersFail) {
    ASSERT_TRUE(server.SetFaults({{"path", "/o"}, {"statuses", {200}}, {"bodies", {" \r\n\t "}}}));
    EXPECT_THROW(ApiManager::GetInstance()->RequestConfiguration(), OstrelException);
    EXPECT_EQ(server.Requests(L"/o").size(), 1u);
    ASSERT_TRUE(server.SetFaults({{"path", "/o"}, {"statuses", {203}}, {"bodies", {"<html>"}}}));
    EXPECT_THROW(ApiManager::GetInstance()->RequestConfiguration(), nlohmann::json::parse_error);
}

TEST_F(ConfigurationRequest, AnAnswerNestedDeeperThanTheBoundIsAParseError) {
    const std::string deep = std::string(1000, '[') + std::string(1000, ']');
    ASSERT_TRUE(server.SetFaults({{"path", "/o"}, {"statuses", {200}}, {"bodies", {R"({"o":[)" + deep + "]}"}}}));
    EXPECT_THROW(ApiManager::GetInstance()->RequestConfiguration(), nlohmann::json::parse_error);
    EXPECT_EQ(server.Requests(L"/o").size(), 1u);
}

TEST_F(ConfigurationRequest, UnreachableServerFailsAtOnceWithoutRetrying) {
    settings->configurationUrl = L"https://127.0.0.9/o";
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(ApiManager::GetInstance()->RequestConfiguration(), OstrelException);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(4000));
    settings->configurationUrl.clear();
    EXPECT_THROW(ApiManager::GetInstance()->RequestConfiguration(), OstrelException);
}

// Run from copies of this program whose names carry (or do not carry) a
// download token; the expected token comes with the copy.
TEST(DownloadToken, IsTakenFromTheProgramsOwnName) {
    wchar_t expected[64] = {};
    if (::GetEnvironmentVariableW(L"OSTREL_EXPECTED_TOKEN", expected, 64) == 0 &&
        ::GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        GTEST_SKIP() << "runs from renamed copies only";
    }
    TestServer server(L"127.0.0.2");
    auto settings = ConfigurationManager::GetInstance();
    settings->configurationUrl = server.Url(L"/o");
    EXPECT_EQ(GetDownloadToken(), expected);
    ApiManager::GetInstance()->RequestConfiguration();
    const json requests = server.Requests(L"/o");
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(json::parse(requests.back().get<std::string>()).at("u").get<std::string>(),
              std::string(expected, expected + wcslen(expected)));
}

TEST(DownloadToken, RuleOnPaths) {
    EXPECT_EQ(DownloadTokenFromPath(L"C:\\x\\y_12-4567.exe"), L"12-4567");
    EXPECT_EQ(DownloadTokenFromPath(L"C:\\x\\setup_ab1-c2d"), L"ab1-c2d");
    EXPECT_EQ(DownloadTokenFromPath(L"C:\\a_b\\setup.exe"), L"");
    EXPECT_EQ(DownloadTokenFromPath(L"C:\\x\\setup_abc.exe"), L"");
    EXPECT_EQ(DownloadTokenFromPath(L"C:\\x\\setup_abcdefgh.exe"), L"");
    EXPECT_EQ(DownloadTokenFromPath(L"C:\\x\\setup_abcdefg.exe"), L"");
    EXPECT_EQ(DownloadTokenFromPath(L"C:\\x\\setup.exe"), L"");
}

}  // namespace
