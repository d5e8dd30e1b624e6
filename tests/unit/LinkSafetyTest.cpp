// Server texts and addresses that end up in links.
#include <gtest/gtest.h>

#include "offers/ProductPage.h"
#include "shell/WebLink.h"

namespace {

TEST(WebLinks, OnlyAbsoluteHttpAndHttpsAddressesAreOpened) {
    EXPECT_TRUE(IsWebUrl(L"https://example.test/privacy"));
    EXPECT_TRUE(IsWebUrl(L"HTTP://example.test/"));
    for (const wchar_t* url :
         {L"", L"file:///C:/Windows/System32/calc.exe", L"C:\\Windows\\System32\\calc.exe",
          L"\\\\server\\share\\setup.exe", L"javascript:alert(1)", L"ms-settings:", L"https:///local", L"https://",
          L"http:\\\\server\\share", L"https://a.test/\nx", L"ftp://example.test/"}) {
        EXPECT_FALSE(IsWebUrl(url)) << url;
        EXPECT_FALSE(OpenWebUrl(url)) << url;
    }
}

TEST(TermsSentence, HoldsTheOfferTextsBetweenItsFixedParts) {
    EXPECT_EQ(BuildTermsSentence(L"Kite", L"https://p.test/", L"https://t.test/"),
              L"When you click \"ACCEPT\", you agree to the installation of \"Kite\" and that you have read the "
              L"<a href=\"https://p.test/\">Privacy Policy</a> and agree to the terms of its "
              L"<a href=\"https://t.test/\">End User License Agreement</a>. Check \"Add/Remove Programs\" to "
              L"uninstall.");
}

TEST(TermsSentence, ServerTextsCannotAddMarkup) {
    const std::wstring sentence = BuildTermsSentence(L"Evil\" <a href=\"file:///c:/x.exe\">here</a>",
                                                     L"https://p.test/\"><a href=\"file:///y", L"https://t.test/<b>");
    // Exactly the two anchors of the sentence itself.
    size_t anchors = 0;
    for (size_t at = sentence.find(L"<a "); at != std::wstring::npos; at = sentence.find(L"<a ", at + 1)) ++anchors;
    EXPECT_EQ(anchors, 2u) << sentence;
    EXPECT_EQ(sentence.find(L"<b>"), std::wstring::npos);
    EXPECT_NE(sentence.find(L"https://p.test/%22%3E%3Ca href=%22file:///y"), std::wstring::npos) << sentence;
    EXPECT_NE(sentence.find(L"Evil\u201D \u2039a href=\u201Dfile:///c:/x.exe\u201D\u203Ahere\u2039/a\u203A"),
              std::wstring::npos)
        << sentence;
}

}  // namespace
