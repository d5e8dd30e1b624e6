// The offer list of a configuration, element by element: malformed offers
// are skipped one by one, without ending the list.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "api/EventTemplate.h"
#include "offers/OfferList.h"
#include "packages/EligibilityEngine.h"
#include "packages/Package.h"

namespace {

using nlohmann::json;

json GoodOffer(const std::string& code, int vertical) {
    return {{"ad", {{"f", "tag-" + code}, {"o", code}}},
            {"ps", {{"i", code + ".png"}, {"dn", "Tool " + code}, {"u", code + ".exe"}, {"v", vertical}}}};
}

json WithPs(const json& ps) {
    json offer = GoodOffer("bad", 50);
    offer["ps"].update(ps);
    return offer;
}

struct MalformedCase {
    const char* what;
    json element;
};

const MalformedCase kMalformed[] = {
    {"a text instead of an offer", "offer"},
    {"null instead of an offer", nullptr},
    {"an array instead of an offer", json::array({GoodOffer("inner", 1)})},
    {"no \"ad\"", {{"ps", GoodOffer("x", 1)["ps"]}}},
    {"\"ad\" a text", {{"ad", "x"}, {"ps", GoodOffer("x", 1)["ps"]}}},
    {"no \"ps\"", {{"ad", {{"f", "t"}, {"o", "o"}}}}},
    {"offer code a number", {{"ad", {{"f", "t"}, {"o", 5}}}, {"ps", GoodOffer("x", 1)["ps"]}}},
    {"display name missing", {{"ad", {{"f", "t"}, {"o", "o"}}}, {"ps", {{"i", "i"}, {"u", "u"}}}}},
    {"download path an object", WithPs({{"u", json::object()}})},
    {"vertical a text", WithPs({{"v", "3"}})},
    {"disk space a boolean", WithPs({{"disk", true}})},
    {"64-bit flag a number", WithPs({{"win64", 1}})},
    {"a key list holding a number", WithPs({{"r", {"hkcu\\software\\x", 2}}})},
    {"a file list that is an object", WithPs({{"fe", {{"a", "b"}}}})},
    {"a digest one digit short", WithPs({{"sha256", std::string(63, 'a')}})},
    {"a digest one digit long", WithPs({{"sha256", std::string(65, 'a')}})},
    {"a digest with a letter past f", WithPs({{"sha256", std::string(63, 'a') + "g"}})},
    {"a digest with a 0x prefix", WithPs({{"sha256", "0x" + std::string(62, 'a')}})},
    {"a digest padded with blanks", WithPs({{"sha256", " " + std::string(64, 'a') + " "}})},
    {"an empty digest", WithPs({{"sha256", ""}})},
    {"a digest that is null", WithPs({{"sha256", nullptr}})},
    {"a digest given as bytes", WithPs({{"sha256", json::array({0xab, 0xcd})}})},
};

TEST(OfferList, AMalformedElementBuildsNoOfferAndThrowsNothing) {
    const EventTemplate eventTemplate = BuildEventTemplate();
    for (const auto& [what, element] : kMalformed) {
        SCOPED_TRACE(what);
        std::shared_ptr<Package> offer;
        EXPECT_NO_THROW(offer = BuildOffer(eventTemplate, element, 0));
        EXPECT_EQ(offer, nullptr);
    }
    const auto good = BuildOffer(eventTemplate, GoodOffer("fine", 1), 2);
    ASSERT_NE(good, nullptr);
    EXPECT_EQ(good->OfferCode(), "fine");
    EXPECT_EQ(good->Position(), 2);
}

TEST(OfferList, ARuleThatCannotJudgeRejectsOnlyItsOfferAndCountsNothing) {
    const EventTemplate eventTemplate = BuildEventTemplate();
    // A bare Software root is no key a rule can look at.
    const auto unjudgeable = BuildOffer(eventTemplate, WithPs({{"r", {"hklm\\software\\"}}}), 0);
    ASSERT_NE(unjudgeable, nullptr);
    EligibilityEngine engine(1);
    bool limitReached = false;
    bool passed = true;
    EXPECT_NO_THROW(passed = PassesRules(engine, unjudgeable, limitReached));
    EXPECT_FALSE(passed);
    EXPECT_FALSE(limitReached);
    // Neither the limit of one nor its category were used up by it.
    const auto next = BuildOffer(eventTemplate, GoodOffer("next", 50), 0);
    ASSERT_NE(next, nullptr);
    EXPECT_TRUE(PassesRules(engine, next, limitReached));
    EXPECT_FALSE(limitReached);
    // Only now is the limit reached.
    EXPECT_FALSE(PassesRules(engine, BuildOffer(eventTemplate, GoodOffer("third", 3), 1), limitReached));
    EXPECT_TRUE(limitReached);
}

TEST(OfferList, ElementsComeInOrderWithoutCopies) {
    const json array = json::array({GoodOffer("a", 1), "x", nullptr});
    const auto fromArray = OfferElements(array);
    ASSERT_EQ(fromArray.size(), 3u);
    EXPECT_EQ(fromArray[0], &array[0]);
    EXPECT_EQ(fromArray[2], &array[2]);

    // An object's values come in key order.
    const json object = {{"b", 2}, {"a", 1}};
    const auto fromObject = OfferElements(object);
    ASSERT_EQ(fromObject.size(), 2u);
    EXPECT_EQ(*fromObject[0], 1);
    EXPECT_EQ(fromObject[1], &object.at("b"));

    // A single value that is neither array nor object is one element.
    const json single = "lone";
    const auto fromSingle = OfferElements(single);
    ASSERT_EQ(fromSingle.size(), 1u);
    EXPECT_EQ(fromSingle[0], &single);

    EXPECT_TRUE(OfferElements(json()).empty());
    EXPECT_TRUE(OfferElements(json::array()).empty());
}

}  // namespace
