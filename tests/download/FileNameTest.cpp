// Names from the server become one safe file name inside the chosen folder;
// Locations and lengths from the server are read the way HTTP means them.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "download/ContentLength.h"
#include "download/DestinationPath.h"
#include "download/DownloadManager.h"
#include "download/FileNames.h"
#include "download/UrlResolution.h"
#include "tests/download/DownloadTestSupport.h"

namespace ostrel::testing {
namespace {

// A name as it comes and what it must become.
struct NameCase {
    std::wstring given;
    std::wstring expected;
};

// Every case through one naming function, each failure with the name it came from.
template <typename Naming>
void ExpectNames(Naming naming, std::initializer_list<NameCase> cases) {
    for (const NameCase& c : cases) EXPECT_EQ(naming(c.given), c.expected) << Narrow(c.given);
}

void ExpectSafeNames(std::initializer_list<NameCase> cases) {
    ExpectNames([](const std::wstring& name) { return SafeFileName(name); }, cases);
}

TEST(FileNames, TheUrlsNameIsItsLastPathSegmentWithoutQueryOrFragment) {
    ExpectNames([](const std::wstring& url) { return FileNameFromUrl(url); },
                {
                    {L"https://h/f/setup.exe", L"setup.exe"},
                    {L"https://h/f/setup.exe?sig=a/b&exp=1", L"setup.exe"},
                    {L"https://h/f/setup.exe#part/2", L"setup.exe"},
                    {L"https://h/f/setup%20x.exe", L"setup%20x.exe"},
                    {L"https://h/f/", L""},
                    {L"https://h", L""},
                    {L"https://h?x=/y.exe", L""},
                    {L"plain.exe", L"plain.exe"},
                });
}

TEST(FileNames, AnyNameBecomesOnePlainNameInTheFolder) {
    ExpectSafeNames({
        {L"setup.exe", L"setup.exe"},
        {L"Kelvanor Setup 2.1.exe", L"Kelvanor Setup 2.1.exe"},
        // Directory parts and climbing out are dropped.
        {L"..\\..\\Windows\\evil.exe", L"evil.exe"},
        {L"../../evil.exe", L"evil.exe"},
        {L"C:\\Windows\\System32\\evil.dll", L"evil.dll"},
        {L"..", kFallbackFileName},
        {L"dir/", kFallbackFileName},
        {L"", kFallbackFileName},
        {L" . . ", kFallbackFileName},
        // Characters Windows forbids in names.
        {L"a<b>c:d\"e|f?g*h.exe", L"a_b_c_d_e_f_g_h.exe"},
        {std::wstring(L"tab\there\x01.exe"), L"tab_here_.exe"},
        // Windows drops trailing dots and blanks itself; two names would meet.
        {L"setup.exe. . ", L"setup.exe"},
        // Device names, with or without an extension, in any case.
        {L"CON", L"_CON"},
        {L"nul.txt", L"_nul.txt"},
        {L"Com1.exe", L"_Com1.exe"},
        {L"lpt9", L"_lpt9"},
        {L"console.exe", L"console.exe"},
        {L"com10.exe", L"com10.exe"},
    });
    // Long names keep their extension.
    const std::wstring longName = SafeFileName(std::wstring(300, L'a') + L".exe");
    EXPECT_EQ(longName.size(), kMaxFileNameLength);
    EXPECT_EQ(longName.substr(longName.size() - 4), L".exe");
}

// Characters that turn the text around would let a program pose as a
// document: they go, wherever they stand, and what is left is judged as usual.
TEST(FileNames, DirectionControlsAreRemoved) {
    ExpectSafeNames({
        {L"setup\u202Etxt.exe", L"setuptxt.exe"},
        {L"invoice\u202Efdp.scr", L"invoicefdp.scr"},
        {L"\u200E\u200Fa\u202Ab\u202Bc\u202Cd\u202De\u202Ef.exe", L"abcdef.exe"},
        {L"\u2066a\u2067b\u2068c\u2069.exe", L"abc.exe"},
        {L"arabic\u061Cmark.exe", L"arabicmark.exe"},
        // Their neighbours are ordinary characters and stay.
        {L"a\u2029b\u206Ac\u200D.exe", L"a\u2029b\u206Ac\u200D.exe"},
        {L"\u05D0\u05D1.exe", L"\u05D0\u05D1.exe"},
        // Removing them can uncover what they hid.
        {L"setup.exe\u202E", L"setup.exe"},
        {L"setup.exe.\u202E ", L"setup.exe"},
        {L"C\u202EON", L"_CON"},
        {L"\u202E\u2066\u200F", kFallbackFileName},
        {L"..\\\u202E..\\evil\u202E.exe", L"evil.exe"},
    });
}

TEST(FileNames, EveryDeviceNameIsReserved) {
    ExpectSafeNames({
        {L"CONIN$", L"_CONIN$"},
        {L"conin$.exe", L"_conin$.exe"},
        {L"CONOUT$", L"_CONOUT$"},
        {L"ConOut$ .txt", L"_ConOut$ .txt"},
        {L"COM\u00B9", L"_COM\u00B9"},
        {L"com\u00B2.exe", L"_com\u00B2.exe"},
        {L"COM\u00B3.txt", L"_COM\u00B3.txt"},
        {L"LPT\u00B9", L"_LPT\u00B9"},
        {L"lpt\u00B2.exe", L"_lpt\u00B2.exe"},
        {L"LPT\u00B3", L"_LPT\u00B3"},
        {L"PRN.exe", L"_PRN.exe"},
        {L"aux", L"_aux"},
        {L"LPT0.exe", L"_LPT0.exe"},
        {L"com0", L"_com0"},
        // Names that only look alike are names.
        {L"CONIN", L"CONIN"},
        {L"CONIN$1.exe", L"CONIN$1.exe"},
        {L"CONOUT.exe", L"CONOUT.exe"},
        {L"COM\u2074.exe", L"COM\u2074.exe"},
        {L"COM\u00B9\u00B9.exe", L"COM\u00B9\u00B9.exe"},
        {L"LPT10.exe", L"LPT10.exe"},
        {L"setup-COM\u00B9.exe", L"setup-COM\u00B9.exe"},
    });
}

TEST(FileNames, SecondCopiesAreNumberedBeforeTheExtension) {
    EXPECT_EQ(NumberedFileName(L"setup.exe", 2), L"setup (2).exe");
    EXPECT_EQ(NumberedFileName(L"archive.tar.gz", 3), L"archive.tar (3).gz");
    EXPECT_EQ(NumberedFileName(L"README", 2), L"README (2)");
    EXPECT_EQ(NumberedFileName(L".profile", 2), L".profile (2)");
}

TEST(Locations, ResolveLikeBrowsersDo) {
    const CStringW base = L"https://h:8443/f/d/page.bin?q=1#frag";
    EXPECT_EQ(ResolveLocation(base, L"http://other/x.bin"), L"http://other/x.bin");
    EXPECT_EQ(ResolveLocation(base, L"//cdn.example/x.bin"), L"https://cdn.example/x.bin");
    EXPECT_EQ(ResolveLocation(base, L"/root.bin"), L"https://h:8443/root.bin");
    EXPECT_EQ(ResolveLocation(base, L"next.bin"), L"https://h:8443/f/d/next.bin");
    EXPECT_EQ(ResolveLocation(base, L"./next.bin?a=b"), L"https://h:8443/f/d/next.bin?a=b");
    EXPECT_EQ(ResolveLocation(base, L"../up.bin"), L"https://h:8443/f/up.bin");
    EXPECT_EQ(ResolveLocation(base, L"../../../../top.bin"), L"https://h:8443/top.bin");
    EXPECT_EQ(ResolveLocation(base, L".."), L"https://h:8443/f/");
    EXPECT_EQ(ResolveLocation(base, L"?other=2"), L"https://h:8443/f/d/page.bin?other=2");
    EXPECT_EQ(ResolveLocation(base, L"#elsewhere"), L"https://h:8443/f/d/page.bin?q=1");
    EXPECT_EQ(ResolveLocation(L"http://h", L"x.bin"), L"http://h/x.bin");
    EXPECT_EQ(ResolveLocation(base, L"HTTPS://H/a/./b/../c.bin"), L"HTTPS://H/a/c.bin");
}

TEST(Locations, OnlyHttpAndHttpsAreFollowed) {
    EXPECT_TRUE(IsHttpUrl(L"http://h/x"));
    EXPECT_TRUE(IsHttpUrl(L"HTTPS://h/x"));
    EXPECT_FALSE(IsHttpUrl(L"ftp://h/x"));
    EXPECT_FALSE(IsHttpUrl(L"file:///C:/x"));
    EXPECT_FALSE(IsHttpUrl(L"javascript:alert(1)"));
    EXPECT_FALSE(IsHttpUrl(L"https:relative"));
    EXPECT_FALSE(IsHttpUrl(L"/f/x"));
}

TEST(ContentLengths, SixtyFourBitsAndNothingElse) {
    EXPECT_EQ(ParseContentLength(L"0"), 0u);
    EXPECT_EQ(ParseContentLength(L" 1000 "), 1000u);
    EXPECT_EQ(ParseContentLength(L"4294967296"), 4294967296ull);
    EXPECT_EQ(ParseContentLength(L"18446744073709551615"), 18446744073709551615ull);
    EXPECT_FALSE(ParseContentLength(L"18446744073709551616"));
    EXPECT_FALSE(ParseContentLength(L""));
    EXPECT_FALSE(ParseContentLength(L"-1"));
    EXPECT_FALSE(ParseContentLength(L"12a"));
    EXPECT_FALSE(ParseContentLength(L"1 2"));
}

class ServerNames : public DownloadTest {
protected:
    std::shared_ptr<DownloadManager> manager = std::make_shared<DownloadManager>();
};

TEST_F(ServerNames, DestinationsStayInTheChosenFolder) {
    EXPECT_EQ(BuildDestinationPath(L"..\\..\\evil.exe", true), folders->Work() + L"\\evil.exe");
    EXPECT_EQ(BuildDestinationPath(L"", false), folders->Downloads() + L"\\" + kFallbackFileName);
    EXPECT_EQ(BuildDestinationPathFromUrl(L"https://h/f/a/..%2f..%2fevil.exe?x=1", true),
              folders->Work() + L"\\..%2f..%2fevil.exe");
    // Names that merely begin with two dots are names, not steps up.
    EXPECT_EQ(BuildDestinationPath(L"..evil.exe", false), folders->Downloads() + L"\\..evil.exe");
}

TEST_F(ServerNames, SignedUrlsAndNamelessUrlsDownloadUnderSafeNames) {
    Serve({{"path", "/f/setup.exe"}, {"size", 9000}});
    Serve({{"path", "/f/dir/"}, {"size", 8000}});

    const auto signedUrl = manager->DownloadFile(host.Url(L"/f/setup.exe?sig=ab%2Fcd&exp=99#x"), nullptr, L"", true);
    ASSERT_TRUE(signedUrl.first) << Narrow(signedUrl.second);
    EXPECT_EQ(manager->lastFilePath, folders->Work() + L"\\setup.exe");
    EXPECT_EQ(FileSha256(manager->lastFilePath), ServedSha256(L"/f/setup.exe"));

    const auto nameless = manager->DownloadFile(host.HttpUrl(L"/f/dir/"), nullptr, L"", true);
    ASSERT_TRUE(nameless.first) << Narrow(nameless.second);
    EXPECT_EQ(manager->lastFilePath, folders->Work() + L"\\" + kFallbackFileName);

    // A product file name from the configuration cannot climb out either.
    const auto climbing = manager->DownloadFile(host.Url(L"/f/setup.exe"), nullptr, L"..\\..\\setup.exe", false);
    ASSERT_TRUE(climbing.first) << Narrow(climbing.second);
    EXPECT_EQ(manager->lastFilePath, folders->Downloads() + L"\\setup.exe");
    EXPECT_EQ(FilesIn(folders->Work()), (std::vector<std::wstring>{kFallbackFileName, L"setup.exe"}));
}

}  // namespace
}  // namespace ostrel::testing
