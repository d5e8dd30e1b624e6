#include <gtest/gtest.h>

#include <map>
#include <string>

#include "localisation/LanguageManager.h"

namespace {

using Texts = std::map<std::string, std::string>;

TEST(Placeholders, ReplacesKeysInsideInsertedTexts) {
    // A refers to B, and the text refers to both: every placeholder goes.
    Texts texts{{"A", "a({B})"}, {"B", "b"}, {"Z", "{A} and {B}"}};
    SubstitutePlaceholders(texts);
    EXPECT_EQ(texts["Z"], "a(b) and b");
    EXPECT_EQ(texts["A"], "a(b)");
}

TEST(Placeholders, ResultDoesNotDependOnKeyOrder) {
    // "A_FIRST" is processed before the key it needs, "Z_LAST" after.
    Texts texts{{"A_FIRST", "[{M}]"}, {"M", "m{N}"}, {"N", "n"}, {"Z_LAST", "[{M}]"}};
    SubstitutePlaceholders(texts);
    EXPECT_EQ(texts["A_FIRST"], "[mn]");
    EXPECT_EQ(texts["Z_LAST"], "[mn]");
}

TEST(Placeholders, UnknownKeysAndUnclosedBracesStayAsWritten) {
    Texts texts{{"A", "x {NOPE} y {B}"}, {"B", "b"}, {"C", "open { but {B never closed"}, {"D", "}{B}{"}};
    SubstitutePlaceholders(texts);
    EXPECT_EQ(texts["A"], "x {NOPE} y b");
    EXPECT_EQ(texts["C"], "open { but {B never closed");
    EXPECT_EQ(texts["D"], "}b{");
}

TEST(Placeholders, PercentMarkerIsNotAPlaceholder) {
    Texts texts{{"PROGRESS_STATUS", "$percent$ Completed"}};
    SubstitutePlaceholders(texts);
    EXPECT_EQ(texts["PROGRESS_STATUS"], "$percent$ Completed");
}

TEST(Placeholders, SelfReferenceStopsAndKeepsThePlaceholder) {
    Texts texts{{"PRODUCT_TITLE", "My {PRODUCT_TITLE}"}, {"WELCOME", "Hi {PRODUCT_TITLE}."}};
    SubstitutePlaceholders(texts);
    const std::string& title = texts["PRODUCT_TITLE"];
    EXPECT_NE(title.find("{PRODUCT_TITLE}"), std::string::npos);
    EXPECT_EQ(title.rfind("My My ", 0), 0u) << title;
    EXPECT_LT(title.size(), 4096u);
    EXPECT_EQ(texts["WELCOME"].rfind("Hi My My ", 0), 0u);
    EXPECT_NE(texts["WELCOME"].find("{PRODUCT_TITLE}"), std::string::npos);
}

TEST(Placeholders, CyclesThroughOtherKeysTerminate) {
    Texts texts{{"A", "a{B}"}, {"B", "b{C}"}, {"C", "c{A}"}};
    SubstitutePlaceholders(texts);
    for (const auto& [key, text] : texts) {
        EXPECT_LT(text.size(), 4096u) << key;
        EXPECT_NE(text.find('{'), std::string::npos) << key;
    }
    EXPECT_EQ(texts["A"].rfind("abcabc", 0), 0u) << texts["A"];
}

TEST(Placeholders, DoublingTextsStayBounded) {
    // Each level doubles the text; without a size bound this needs 2^depth copies.
    Texts texts{{"A", "{A}{A}"}, {"B", "[{A}]"}};
    SubstitutePlaceholders(texts);
    EXPECT_LE(texts["A"].size(), 64u * 1024u);
    EXPECT_LE(texts["B"].size(), 64u * 1024u);
    EXPECT_EQ(texts["B"].front(), '[');
}

}  // namespace
