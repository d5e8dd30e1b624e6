// The extra data of the download pages' failure events.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "install/PackageTransfers.h"

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

}  // namespace
