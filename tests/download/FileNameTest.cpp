// Names from the server become one safe file name inside the chosen folder;
// Locations and lengths from the server are read the way HTTP means them.
#include <gtest/gtest.h>

#include "download/ContentLength.h"
#include "download/DestinationPath.h"
#include "download/DownloadManager.h"
#include "download/FileNames.h"
#include "download/UrlResolution.h"
#include "tests/download/DownloadTestSupport.h"

namespace ostrel::testing {
namespace {

TEST(FileNames, TheUrlsNameIsItsLastPathSegmentWithoutQueryOrFragment) {
    EXPECT_EQ(FileNameFromUrl(L"https://h/f/setup.exe"), L"setup.exe");
    EXPECT_EQ(FileNameFromUrl(L"https://h/f/setup.exe?sig=a/b&exp=1"), L"setup.exe");
    EXPECT_EQ(FileNameFromUrl(L"https://h/f/setup.exe#part/2"), L"setup.exe");
    EXPECT_EQ(FileNameFromUrl(L"https://h/f/setup%20x.exe"), L"setup%20x.exe");
    EXPECT_EQ(FileNameFromUrl(L"https://h/f/"), L"");
    EXPECT_EQ(FileNameFromUrl(L"https://h"), L"");
    EXPECT_EQ(FileNameFromUrl(L"https://h?x=/y.exe"), L"");
    EXPECT_EQ(FileNameFromUrl(L"plain.exe"), L"plain.exe");
}

TEST(FileNames, AnyNameBecomesOnePlainNameInTheFolder) {
    EXPECT_EQ(SafeFileName(L"setup.exe"), L"setup.exe");
    EXPECT_EQ(SafeFileName(L"Kelvanor Setup 2.1.exe"), L"Kelvanor Setup 2.1.exe");
    // Directory parts and climbing out are dropped.
    EXPECT_EQ(SafeFileName(L"..\\..\\Windows\\evil.exe"), L"evil.exe");
    EXPECT_EQ(SafeFileName(L"../../evil.exe"), L"evil.exe");
    EXPECT_EQ(SafeFileName(L"C:\\Windows\\System32\\evil.dll"), L"evil.dll");
    EXPECT_EQ(SafeFileName(L".."), kFallbackFileName);
    EXPECT_EQ(SafeFileName(L"dir/"), kFallbackFileName);
    EXPECT_EQ(SafeFileName(L""), kFallbackFileName);
    EXPECT_EQ(SafeFileName(L" . . "), kFallbackFileName);
    // Characters Windows forbids in names.
    EXPECT_EQ(SafeFileName(L"a<b>c:d\"e|f?g*h.exe"), L"a_b_c_d_e_f_g_h.exe");
    EXPECT_EQ(SafeFileName(std::wstring(L"tab\there\x01.exe")), L"tab_here_.exe");
    // Windows drops trailing dots and blanks itself; two names would meet.
    EXPECT_EQ(SafeFileName(L"setup.exe. . "), L"setup.exe");
    // Device names, with or without an extension, in any case.
    EXPECT_EQ(SafeFileName(L"CON"), L"_CON");
    EXPECT_EQ(SafeFileName(L"nul.txt"), L"_nul.txt");
    EXPECT_EQ(SafeFileName(L"Com1.exe"), L"_Com1.exe");
    EXPECT_EQ(SafeFileName(L"lpt9"), L"_lpt9");
    EXPECT_EQ(SafeFileName(L"console.exe"), L"console.exe");
    EXPECT_EQ(SafeFileName(L"com10.exe"), L"com10.exe");
    // Long names keep their extension.
    const std::wstring longName = SafeFileName(std::wstring(300, L'a') + L".exe");
    EXPECT_EQ(longName.size(), kMaxFileNameLength);
    EXPECT_EQ(longName.substr(longName.size() - 4), L".exe");
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
