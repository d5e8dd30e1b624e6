// The extra data of the download pages' failure events, and the one refusal
// that fails a download before any transfer.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "install/PackageTransfers.h"
#include "core/TextConversion.h"

namespace {

TEST(FailureData, CarriesThePrefixAndTheTextAsValidJson) {
    const nlohmann::json data = FailureData(kDownloadFailed, L"[WINHTTP] Failed to connect: 12029 - ");
    EXPECT_EQ(data.dump(), R"({"12":"DOWNLOAD FAILED: [WINHTTP] Failed to connect: 12029 - "})");
}

TEST(FailureData, SystemTextsInOtherLanguagesKeepTheEventSendable) {
    // A system message with letters outside ASCII: through an ANSI code page
    // these bytes would not be UTF-8, and the event could not be serialised.
    const nlohmann::json data = FailureData(kMainProductDownloadFailed, L"Zeit\u00fcberschreitung \u2013 \u00e9chec");
    std::string text;
    ASSERT_NO_THROW(text = data.dump());
    EXPECT_EQ(data.at("12"),
              "MAIN PRODUCT DOWNLOAD FAILED: Zeit\xC3\xBC"
              "berschreitung \xE2\x80\x93 \xC3\xA9"
              "chec");
}

TEST(FailureData, AnInstallerThatCouldNotStartCarriesItsCode) {
    EXPECT_EQ(ExecFailedData(193).dump(), R"({"12":"EXEC FAILED193"})");
    EXPECT_EQ(ExecFailedData(0xFFFFFFFF).dump(), R"({"12":"EXEC FAILED4294967295"})");
}

TEST(ProductUrlRefusal, PlainHttpNeedsTheDigestAndHttpsGoesAsItIs) {
    const std::string digest(64, 'a');
    const struct {
        const wchar_t* url;
        std::string sha256;
        bool refused;
    } cases[] = {
        // Plain HTTP, whatever the case of its scheme: only with the digest.
        {L"http://127.0.0.1/f/app.exe", "", true},
        {L"HTTP://127.0.0.1/f/app.exe", "", true},
        {L"hTtP://127.0.0.1/f/app.exe", "", true},
        {L"http://127.0.0.1/f/app.exe", digest, false},
        {L"HTTP://127.0.0.1/f/app.exe", digest, false},
        // HTTPS as before, with or without one.
        {L"https://127.0.0.1/f/app.exe", "", false},
        {L"HTTPS://127.0.0.1/f/app.exe", "", false},
        {L"https://127.0.0.1/f/app.exe", digest, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.url) + " " + c.sha256);
        EXPECT_EQ(ProductUrlRefusal(c.url, c.sha256),
                  c.refused ? L"Product URL that is not HTTPS, without a SHA-256, refused." : L"");
    }
}

}  // namespace
