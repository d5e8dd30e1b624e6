// Server answers parsed with a bound on their nesting.
#include <gtest/gtest.h>

#include <string>

#include "api/BoundedJson.h"

namespace {

using nlohmann::json;

std::string NestedArrays(size_t levels) {
    return std::string(levels, '[') + std::string(levels, ']');
}

// {"k":{"k":...{"k":1}...}} with the given number of objects.
std::string NestedObjects(size_t levels) {
    std::string text;
    for (size_t i = 0; i < levels; ++i) text += R"({"k":)";
    return text + "1" + std::string(levels, '}');
}

struct NestingCase {
    const char* what;
    std::string text;
    bool accepted;
};

TEST(BoundedJson, NestingUpToTheLimitParsesAndOneLevelMoreIsAParseError) {
    const size_t limit = kMaxJsonNesting;
    const NestingCase cases[] = {
        {"arrays at the limit", NestedArrays(limit), true},
        {"objects at the limit", NestedObjects(limit), true},
        {"arrays and objects at the limit", "[" + NestedObjects(limit - 1) + "]", true},
        {"arrays one level deeper", NestedArrays(limit + 1), false},
        {"objects one level deeper", NestedObjects(limit + 1), false},
        {"arrays and objects one level deeper", "[" + NestedObjects(limit) + "]", false},
        {"a million levels", NestedArrays(1000000), false},
        {"deep nesting after shallow members", R"({"a":1,"b":[2],"o":[)" + NestedArrays(limit) + "]}", false},
    };
    for (const auto& [what, text, accepted] : cases) {
        SCOPED_TRACE(what);
        if (accepted) {
            json parsed;
            ASSERT_NO_THROW(parsed = ParseBoundedJson(text));
            EXPECT_EQ(parsed, json::parse(text));
        } else {
            EXPECT_THROW(ParseBoundedJson(text), json::parse_error);
        }
    }
}

TEST(BoundedJson, TheLimitIsTheCallersToChoose) {
    EXPECT_EQ(ParseBoundedJson(R"({"a":[1]})", 2), json({{"a", {1}}}));
    EXPECT_THROW(ParseBoundedJson(R"({"a":[[1]]})", 2), json::parse_error);
    // Scalars have no nesting at all.
    EXPECT_EQ(ParseBoundedJson("7", 0), json(7));
    EXPECT_THROW(ParseBoundedJson("[]", 0), json::parse_error);
}

TEST(BoundedJson, EverythingElseParsesAsTheLibraryParses) {
    const std::string answer =
        R"({"l":"cc","i":{"ct":"T","cu":"u"},"f":{"a":"p","m":2.5},"o":[{"ad":{"f":"f","o":"o"},)"
        R"("ps":{"i":"i","dn":"d","u":"u","fe":["a","b"],"disk":-1,"win64":true,"x":null}}]})";
    EXPECT_EQ(ParseBoundedJson(answer), json::parse(answer));
    for (const char* broken : {"", "not json", "{\"a\":", "[1,]", "{\"a\":\"\\s\"}"}) {
        SCOPED_TRACE(broken);
        EXPECT_THROW(ParseBoundedJson(broken), json::parse_error);
    }
}

}  // namespace
