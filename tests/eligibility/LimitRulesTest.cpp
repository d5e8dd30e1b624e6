// The offer limit and the category rule, each with the rejection event the
// reference server stores.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "packages/EligibilityEngine.h"
#include "tests/eligibility/EligibilityTestSupport.h"

namespace {

using ostrel::testing::EligibilityTest;

constexpr char kNotEnoughDisk[] = "NOT ENOUGH DISK SPACE";
constexpr char kUnsupportedOs[] = "UNSUPPORTED OS VERSION";

class EligibilityLimit : public EligibilityTest {};

TEST_F(EligibilityLimit, NoRoomStopsTheFirstOfferSilently) {
    for (const int maxOffers : {0, -1}) {
        EligibilityEngine engine(maxOffers);
        const auto first = Offer();
        const auto second = Offer({{"v", 7}});
        bool limitReached = false;
        EXPECT_FALSE(engine.Evaluate(first, limitReached)) << maxOffers;
        EXPECT_TRUE(limitReached) << maxOffers;
        EXPECT_FALSE(engine.Evaluate(second, limitReached)) << maxOffers;
        EXPECT_TRUE(limitReached) << maxOffers;
        ExpectReasons({{first, ""}, {second, ""}});
    }
}

TEST_F(EligibilityLimit, TheOfferAfterTheLastAcceptedOneSetsTheFlag) {
    EligibilityEngine engine(2);
    std::vector<std::shared_ptr<Package>> offers;
    for (int i = 0; i < 5; ++i) offers.push_back(Offer());
    bool limitReached = false;
    EXPECT_TRUE(engine.Evaluate(offers[0], limitReached));
    EXPECT_FALSE(limitReached);
    EXPECT_TRUE(engine.Evaluate(offers[1], limitReached));
    EXPECT_FALSE(limitReached);
    for (int i = 2; i < 5; ++i) {
        EXPECT_FALSE(engine.Evaluate(offers[i], limitReached)) << i;
        EXPECT_TRUE(limitReached) << i;
    }
    // An offer that would fail a later check is stopped by the limit first, and silently.
    const auto sameCategory = Offer({{"v", offers[0]->Vertical()}, {"ov", 64}});
    EXPECT_FALSE(engine.Evaluate(sameCategory, limitReached));
    ExpectReasons(
        {{offers[0], ""}, {offers[1], ""}, {offers[2], ""}, {offers[3], ""}, {offers[4], ""}, {sameCategory, ""}});
}

TEST_F(EligibilityLimit, TheFlagIsNeverResetByAnAcceptedOffer) {
    EligibilityEngine engine(5);
    bool limitReached = true;
    EXPECT_TRUE(engine.Evaluate(Offer(), limitReached));
    EXPECT_TRUE(limitReached);
}

class EligibilityVertical : public EligibilityTest {};

TEST_F(EligibilityVertical, OneOfferPerCategoryWithItsOwnReasonForNoCategory) {
    EligibilityEngine engine(100);
    const auto seven = Offer({{"v", 7}});
    const auto sevenAgain = Offer({{"v", 7}});
    const auto none = Offer({{"v", -1}});
    const auto noneAgain = Offer({{"v", -1}});
    const auto withoutKey = Offer({{"v", nullptr}});
    const auto withoutKeyAgain = Offer({{"v", nullptr}});
    const auto zero = Offer({{"v", 0}});
    const auto eight = Offer({{"v", 8}});
    // Truncated towards zero: 7.9 is category 7.
    const auto sevenFraction = Offer({{"v", 7.9}});
    EXPECT_EQ(EvaluateAll(engine, {seven, sevenAgain, none, noneAgain, withoutKey, withoutKeyAgain, zero, eight,
                                   sevenFraction}),
              (std::vector<bool>{true, false, true, false, true, false, false, true, false}));
    ExpectReasons({{seven, ""},
                   {sevenAgain, "SAME VERTICAL OFFER ALREADY PRESENT"},
                   {none, ""},
                   {noneAgain, "MULTIPLE OFFERS W/O VERTICAL"},
                   {withoutKey, ""},
                   {withoutKeyAgain, "SAME VERTICAL OFFER ALREADY PRESENT"},
                   {zero, "SAME VERTICAL OFFER ALREADY PRESENT"},
                   {eight, ""},
                   {sevenFraction, "SAME VERTICAL OFFER ALREADY PRESENT"}});
}

TEST_F(EligibilityVertical, ARejectedOfferDoesNotTakeItsCategory) {
    EligibilityEngine engine(100);
    const auto tooBig = Offer({{"v", 7}, {"disk", std::numeric_limits<std::uint64_t>::max()}});
    const auto noOs = Offer({{"v", 7}, {"ov", 64}});
    const auto fits = Offer({{"v", 7}});
    const auto fitsAgain = Offer({{"v", 7}});
    EXPECT_EQ(EvaluateAll(engine, {tooBig, noOs, fits, fitsAgain}), (std::vector<bool>{false, false, true, false}));
    ExpectReasons({{tooBig, kNotEnoughDisk},
                   {noOs, kUnsupportedOs},
                   {fits, ""},
                   {fitsAgain, "SAME VERTICAL OFFER ALREADY PRESENT"}});
}

}  // namespace
