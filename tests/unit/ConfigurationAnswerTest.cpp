// The configuration server's answer read into plain values, without a window,
// a server or the settings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "offers/ConfigurationAnswer.h"

namespace {

using nlohmann::json;

constexpr bool kDownloadWizard = true;
constexpr bool kInstallerWizard = false;

json Product(const json& members = json::object()) {
    json product = {{"ct", "App"}, {"cu", "https://example.test/app.exe"}};
    product.update(members);
    return product;
}

json TwoOffers() {
    return json::array({{{"ad", {{"o", "first"}}}}, {{"ad", {{"o", "second"}}}}});
}

TEST(ConfigurationAnswer, DownloadWizardTakesEveryMemberOfAFullAnswer) {
    const json response = {{"l", "es"},
                           {"i", Product({{"ct", "Caf\u00e9"},
                                          {"cl", "https://example.test/app.png"},
                                          {"cf", "setup.exe"},
                                          {"cp", "https://example.test/privacy"},
                                          {"ctu", "https://example.test/terms"},
                                          {"ch", "web"},
                                          {"cfl", "tag"}})},
                           {"f", {{"a", "pub-7"}, {"m", 3}}},
                           {"o", TwoOffers()}};
    const ConfigurationAnswer answer = ReadConfigurationAnswer(response, kDownloadWizard, L"");

    EXPECT_FALSE(answer.configurationError);
    EXPECT_EQ(answer.ccValue, "es");
    EXPECT_EQ(answer.pubId, "pub-7");
    ASSERT_TRUE(answer.product);
    EXPECT_EQ(answer.product->title, L"Caf\u00e9");
    EXPECT_EQ(answer.product->url, L"https://example.test/app.exe");
    EXPECT_EQ(answer.product->imageUrl, L"https://example.test/app.png");
    EXPECT_EQ(answer.product->fileName, L"setup.exe");
    EXPECT_EQ(answer.product->privacyUrl, L"https://example.test/privacy");
    EXPECT_EQ(answer.product->termsUrl, L"https://example.test/terms");
    EXPECT_EQ(answer.product->channel, L"web");
    EXPECT_EQ(answer.product->offerTag, L"tag");
    ASSERT_TRUE(answer.offers);
    EXPECT_EQ(answer.offers->maxOffers, 3);
    ASSERT_EQ(answer.offers->elements.size(), 2u);
    EXPECT_EQ(answer.offers->elements[0], TwoOffers()[0]);
    EXPECT_EQ(answer.offers->elements[1], TwoOffers()[1]);
}

TEST(ConfigurationAnswer, AbsentOptionalProductMembersAreEmptyAndTheFileNameFollowsTheTitle) {
    const ConfigurationAnswer answer = ReadConfigurationAnswer({{"i", Product()}}, kDownloadWizard, L"web");
    ASSERT_TRUE(answer.product);
    EXPECT_EQ(answer.product->fileName, L"App.exe");
    EXPECT_EQ(answer.product->imageUrl, L"");
    EXPECT_EQ(answer.product->privacyUrl, L"");
    EXPECT_EQ(answer.product->termsUrl, L"");
    EXPECT_EQ(answer.product->channel, L"");
    EXPECT_EQ(answer.product->offerTag, L"");
    EXPECT_FALSE(answer.ccValue);
    EXPECT_FALSE(answer.pubId);
    EXPECT_FALSE(answer.offers);
    EXPECT_FALSE(answer.configurationError);
}

// An empty title or address makes the configuration unusable: nothing after
// the product is read, so even a mistyped publisher or offer list passes.
TEST(ConfigurationAnswer, AProductPictureIsTakenOnlyOverHttps) {
    const struct {
        const char* picture;
        const wchar_t* taken;
    } cases[] = {
        {"https://example.test/app.png", L"https://example.test/app.png"},
        {"HTTPS://example.test/app.png", L"HTTPS://example.test/app.png"},
        {"http://example.test/app.png", L""},
        {"HTTP://example.test/app.png", L""},
        {"Http://example.test/app.png", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.picture);
        const ConfigurationAnswer answer =
            ReadConfigurationAnswer({{"i", Product({{"cl", c.picture}})}}, kDownloadWizard, L"");
        ASSERT_TRUE(answer.product);
        EXPECT_FALSE(answer.configurationError);
        EXPECT_EQ(answer.product->imageUrl, c.taken);
    }
}

TEST(ConfigurationAnswer, EmptyTitleOrAddressIsTheConfigurationErrorAndEndsTheReading) {
    const struct {
        const char* what;
        json product;
    } kCases[] = {
        {"empty title", Product({{"ct", ""}})},
        {"empty address", Product({{"cu", ""}})},
        {"both empty", Product({{"ct", ""}, {"cu", ""}})},
        {"a digest one digit short", Product({{"sha256", std::string(63, 'a')}})},
        {"a digest with a letter past f", Product({{"sha256", std::string(63, 'a') + "g"}})},
        {"a digest that is null", Product({{"sha256", nullptr}})},
        {"a digest that is a number", Product({{"sha256", 1}})},
    };
    for (const auto& entry : kCases) {
        const json response = {{"l", "de"}, {"i", entry.product}, {"f", {{"a", 5}, {"m", "x"}}}, {"o", TwoOffers()}};
        ConfigurationAnswer answer;
        ASSERT_NO_THROW(answer = ReadConfigurationAnswer(response, kDownloadWizard, L"")) << entry.what;
        EXPECT_TRUE(answer.configurationError) << entry.what;
        EXPECT_FALSE(answer.product) << entry.what;
        EXPECT_FALSE(answer.pubId) << entry.what;
        EXPECT_FALSE(answer.offers) << entry.what;
        // Read before the product.
        EXPECT_EQ(answer.ccValue, "de") << entry.what;
    }
}

TEST(ConfigurationAnswer, TheProductDigestIsKeptInLowerCase) {
    const std::string upper = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    const json response = {{"i", Product({{"sha256", upper}})}, {"f", {{"m", 1}}}, {"o", TwoOffers()}};
    const ConfigurationAnswer answer = ReadConfigurationAnswer(response, kDownloadWizard, L"");
    ASSERT_TRUE(answer.product);
    EXPECT_EQ(answer.product->sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const ConfigurationAnswer without = ReadConfigurationAnswer({{"i", Product()}}, kDownloadWizard, L"");
    ASSERT_TRUE(without.product);
    EXPECT_EQ(without.product->sha256, "");
}

// Missing or mistyped members throw the JSON library's errors; the page turns
// them into the configuration error (download wizard) or no offers.
TEST(ConfigurationAnswer, MissingOrMistypedMembersThrow) {
    const struct {
        const char* what;
        bool readsProduct;
        json response;
    } kCases[] = {
        {"no product", kDownloadWizard, json::object()},
        {"product a text", kDownloadWizard, {{"i", "App"}}},
        {"product an array", kDownloadWizard, {{"i", json::array({Product()})}}},
        {"product null", kDownloadWizard, {{"i", nullptr}}},
        {"answer an array", kDownloadWizard, json::array({{{"i", Product()}}})},
        {"no title", kDownloadWizard, {{"i", {{"cu", "https://example.test/app.exe"}}}}},
        {"no address", kDownloadWizard, {{"i", {{"ct", "App"}}}}},
        {"title a number", kDownloadWizard, {{"i", Product({{"ct", 5}})}}},
        {"address null", kDownloadWizard, {{"i", Product({{"cu", nullptr}})}}},
        {"picture address a number", kDownloadWizard, {{"i", Product({{"cl", 1}})}}},
        {"file name a list", kDownloadWizard, {{"i", Product({{"cf", json::array({"a.exe"})}})}}},
        {"channel a number", kDownloadWizard, {{"i", Product({{"ch", 0}})}}},
        {"\"l\" a number", kInstallerWizard, {{"l", 34}}},
        {"\"l\" a number before the product", kDownloadWizard, {{"l", 34}, {"i", Product()}}},
        {"publisher a number", kInstallerWizard, {{"f", {{"a", 77}}}}},
        {"publisher null", kDownloadWizard, {{"i", Product()}, {"f", {{"a", nullptr}}}}},
        {"offers without \"f\"", kInstallerWizard, {{"o", TwoOffers()}}},
        {"offers without a limit", kDownloadWizard, {{"i", Product()}, {"f", {{"a", "p"}}}, {"o", TwoOffers()}}},
        {"limit a text", kInstallerWizard, {{"f", {{"m", "2"}}}, {"o", TwoOffers()}}},
        {"limit null", kInstallerWizard, {{"f", {{"m", nullptr}}}, {"o", TwoOffers()}}},
        {"\"f\" a number with offers", kInstallerWizard, {{"f", 2}, {"o", TwoOffers()}}},
    };
    for (const auto& entry : kCases) {
        EXPECT_THROW(ReadConfigurationAnswer(entry.response, entry.readsProduct, L""), json::exception) << entry.what;
    }
}

// The installer wizard keeps its built-in product: "i" is never looked at.
TEST(ConfigurationAnswer, InstallerWizardLeavesTheProductAloneAndTakesCountryAndPublisher) {
    for (const json& product : {json(), json("App"), json::object(), Product({{"ct", ""}})}) {
        json response = {{"l", "fr"}, {"f", {{"a", "pub-1"}}}};
        if (!product.is_null()) response["i"] = product;
        const ConfigurationAnswer answer = ReadConfigurationAnswer(response, kInstallerWizard, L"");
        EXPECT_FALSE(answer.product) << response.dump();
        EXPECT_FALSE(answer.configurationError) << response.dump();
        EXPECT_EQ(answer.ccValue, "fr") << response.dump();
        EXPECT_EQ(answer.pubId, "pub-1") << response.dump();
        EXPECT_FALSE(answer.offers) << response.dump();
    }
}

TEST(ConfigurationAnswer, AnswerThatIsNoObjectGivesNothingToTheInstallerWizard) {
    for (const json& response : {json::array({{{"l", "x"}}}), json("l"), json(5), json()}) {
        const ConfigurationAnswer answer = ReadConfigurationAnswer(response, kInstallerWizard, L"");
        EXPECT_FALSE(answer.ccValue) << response.dump();
        EXPECT_FALSE(answer.pubId) << response.dump();
        EXPECT_FALSE(answer.offers) << response.dump();
    }
}

// The publisher needs "f" to be an object holding "a"; anything else leaves it unset.
TEST(ConfigurationAnswer, PublisherOnlyFromAnObjectHoldingIt) {
    for (const json& f : {json(7), json("a"), json::array({"a"}), json({{"m", 1}})}) {
        const ConfigurationAnswer answer = ReadConfigurationAnswer({{"f", f}}, kInstallerWizard, L"");
        EXPECT_FALSE(answer.pubId) << f.dump();
    }
}

// "00xA" switches the offers off: the list is then ignored and "f" not needed.
// The download wizard judges by the product's channel, the installer wizard by its own.
TEST(ConfigurationAnswer, ChannelSwitchesTheOffersOff) {
    const struct {
        const char* what;
        bool readsProduct;
        const wchar_t* wizardChannel;
        json product;
        bool offersRead;
    } kCases[] = {
        {"product channel switches off", kDownloadWizard, L"", Product({{"ch", "00xA"}}), false},
        {"product channel replaces the wizard's switch", kDownloadWizard, L"00xA", Product({{"ch", "web"}}), true},
        {"no product channel replaces the wizard's switch", kDownloadWizard, L"00xA", Product(), true},
        {"switch compared case-sensitively", kDownloadWizard, L"", Product({{"ch", "00xa"}}), true},
        {"switch compared whole", kDownloadWizard, L"", Product({{"ch", "00xA "}}), true},
        {"installer wizard's channel switches off", kInstallerWizard, L"00xA", json(), false},
        {"installer wizard ignores a product channel", kInstallerWizard, L"", Product({{"ch", "00xA"}}), true},
        {"installer wizard's other channel", kInstallerWizard, L"web", json(), true},
    };
    for (const auto& entry : kCases) {
        json withoutLimit = {{"o", TwoOffers()}};
        json withLimit = {{"o", TwoOffers()}, {"f", {{"m", 1}}}};
        if (!entry.product.is_null()) {
            withoutLimit["i"] = entry.product;
            withLimit["i"] = entry.product;
        }
        const ConfigurationAnswer answer = ReadConfigurationAnswer(withLimit, entry.readsProduct, entry.wizardChannel);
        EXPECT_EQ(answer.offers.has_value(), entry.offersRead) << entry.what;
        if (entry.offersRead) {
            EXPECT_THROW(ReadConfigurationAnswer(withoutLimit, entry.readsProduct, entry.wizardChannel),
                         json::exception)
                << entry.what;
        } else {
            EXPECT_NO_THROW(ReadConfigurationAnswer(withoutLimit, entry.readsProduct, entry.wizardChannel))
                << entry.what;
        }
    }
}

// "f"."m" lands in a 32-bit number; "o" may be a list, an object (its values
// in key order), a single value or null.
TEST(ConfigurationAnswer, LimitAndOfferElementsAsTheServerMayWriteThem) {
    const struct {
        const char* what;
        json limit;
        json offers;
        int maxOffers;
        std::vector<json> elements;
    } kCases[] = {
        {"list", 2, json::array({"a", "b", "c"}), 2, {"a", "b", "c"}},
        {"object by key", 0, {{"b", 2}, {"a", 1}}, 0, {1, 2}},
        {"single value", 2.9, "only", 2, {"only"}},
        {"null", true, nullptr, 1, {}},
        {"empty list", -3.7, json::array(), -3, {}},
        {"limit beyond 32 bits", 1e12, json::array({"a"}), 2147483647, {"a"}},
    };
    for (const auto& entry : kCases) {
        const json response = {{"f", {{"m", entry.limit}}}, {"o", entry.offers}};
        const ConfigurationAnswer answer = ReadConfigurationAnswer(response, kInstallerWizard, L"");
        ASSERT_TRUE(answer.offers) << entry.what;
        EXPECT_EQ(answer.offers->maxOffers, entry.maxOffers) << entry.what;
        EXPECT_EQ(answer.offers->elements, entry.elements) << entry.what;
    }
}

// The answer is copied out: the elements stay valid once the response is gone.
TEST(ConfigurationAnswer, OfferElementsOutliveTheResponse) {
    ConfigurationAnswer answer;
    {
        const json response = {{"f", {{"m", 5}}}, {"o", TwoOffers()}};
        answer = ReadConfigurationAnswer(response, kInstallerWizard, L"");
    }
    ASSERT_TRUE(answer.offers);
    ASSERT_EQ(answer.offers->elements.size(), 2u);
    EXPECT_EQ(answer.offers->elements[1].at("ad").at("o"), "second");
}

}  // namespace
