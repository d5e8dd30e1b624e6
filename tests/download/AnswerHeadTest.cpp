// What a file answer's head allows a resume to rely on: which validator goes
// into If-Range, whether ranges are served, and Content-Range as it is written.
#include <gtest/gtest.h>

#include "download/AnswerHead.h"

namespace {

AnswerHead Head(std::optional<CStringW> etag, std::optional<CStringW> lastModified, std::optional<CStringW> date) {
    AnswerHead head;
    head.status = 200;
    head.etag = std::move(etag);
    head.lastModified = std::move(lastModified);
    head.date = std::move(date);
    return head;
}

TEST(AnswerHeadTest, OnlyAStrongValidatorIsSentInIfRange) {
    const CStringW monday = L"Mon, 07 Dec 2026 10:00:00 GMT";
    const CStringW mondayLater = L"Mon, 07 Dec 2026 10:00:01 GMT";
    struct Case {
        const char* name;
        AnswerHead head;
        std::optional<CStringW> validator;
    };
    const Case cases[] = {
        {"strong tag", Head(L"\"abc\"", monday, mondayLater), L"\"abc\""},
        {"strong tag with blanks", Head(L" \"abc\" ", std::nullopt, std::nullopt), L"\"abc\""},
        // A weak tag means the bytes may differ; the date does not make up for it.
        {"weak tag", Head(L"W/\"abc\"", monday, mondayLater), std::nullopt},
        {"unquoted tag", Head(L"abc", std::nullopt, std::nullopt), std::nullopt},
        {"date a second before the answer", Head(std::nullopt, monday, mondayLater), monday},
        {"date of the answer itself", Head(std::nullopt, monday, monday), std::nullopt},
        {"date without the answer's date", Head(std::nullopt, monday, std::nullopt), std::nullopt},
        {"date that is no date", Head(std::nullopt, L"yesterday", mondayLater), std::nullopt},
        {"nothing", Head(std::nullopt, std::nullopt, std::nullopt), std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ResumeValidatorOf(c.head), c.validator) << c.name;
}

TEST(AnswerHeadTest, RangesAreServedOnlyWhenTheServerSaysBytes) {
    AnswerHead head;
    EXPECT_FALSE(AcceptsByteRanges(head));
    for (const wchar_t* value : {L"bytes", L"Bytes", L" none , bytes"}) {
        head.acceptRanges = value;
        EXPECT_TRUE(AcceptsByteRanges(head)) << value;
    }
    for (const wchar_t* value : {L"none", L"", L"bytesize"}) {
        head.acceptRanges = value;
        EXPECT_FALSE(AcceptsByteRanges(head)) << value;
    }
}

TEST(AnswerHeadTest, ContentRangeIsReadAsWritten) {
    const std::optional<ContentRange> range = ParseContentRange(L"bytes 100-199/1000");
    ASSERT_TRUE(range);
    EXPECT_EQ(range->first, 100u);
    EXPECT_EQ(range->last, 199u);
    EXPECT_EQ(range->total, 1000u);
    const std::optional<ContentRange> unknown = ParseContentRange(L"bytes 0-9/*");
    ASSERT_TRUE(unknown);
    EXPECT_FALSE(unknown->total);
    // Past 4 GiB, as a resumed large installer is.
    EXPECT_EQ(ParseContentRange(L"bytes 4294967396-4294967495/4294967496")->first, 4294967396ull);
    for (const wchar_t* bad : {L"bytes */1000", L"bytes 200-100/1000", L"bytes 0-999/999", L"items 0-1/2", L"bytes 0-1",
                               L"bytes -1/2", L"bytes 0-x/2"}) {
        EXPECT_FALSE(ParseContentRange(bad)) << bad;
    }
}

}  // namespace
