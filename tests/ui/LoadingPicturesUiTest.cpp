// The pictures of the product and the offers: shown in both languages, a
// product picture over plain HTTP never fetched, failures that still complete
// loading, a close while they load.
#include <gtest/gtest.h>

#include <string>

#include "tests/common/TestSupport.h"
#include "tests/ui/LoadingFlow.h"

namespace {

using namespace ostrel::testing;
using nlohmann::json;

// One of the wizard's own pictures as base64, for the file host to serve.
std::string PictureBase64(UINT id, const wchar_t* type) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    const auto* bytes = static_cast<const unsigned char*>(::LockResource(::LoadResource(module, resource)));
    const DWORD size = ::SizeofResource(module, resource);
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (DWORD i = 0; i < size; i += 3) {
        const unsigned value =
            (bytes[i] << 16) | ((i + 1 < size ? bytes[i + 1] : 0) << 8) | (i + 2 < size ? bytes[i + 2] : 0);
        text += kDigits[(value >> 18) & 63];
        text += kDigits[(value >> 12) & 63];
        text += i + 1 < size ? kDigits[(value >> 6) & 63] : '=';
        text += i + 2 < size ? kDigits[value & 63] : '=';
    }
    return text;
}

TEST_F(LoadingFlow, PicturesOfProductAndOffersAreShownInBothLanguages) {
    ASSERT_TRUE(server.SetFile(
        {{"path", "/f/pic-product.png"}, {"bodyBase64", PictureBase64(IDR_IMAGE_DOWNLOAD, L"IMAGE_BLOB")}}));
    ASSERT_TRUE(server.SetFile(
        {{"path", "/f/img/pic-a.png"}, {"bodyBase64", PictureBase64(IDR_IMAGE_FINISHED, L"IMAGE_BLOB2")}}));
    const std::string config =
        R"({"i":{"ct":"Kestrel Viewer","cu":"https://127.0.0.1/f/k.exe","cl":"https://127.0.0.1/f/pic-product.png",)"
        R"("cp":"https://127.0.0.1/site/p","ctu":"https://127.0.0.1/site/t"},"f":{"m":3},"o":[)" +
        Offer("pic-a", 1, "Alpha Tool") + "]}";
    ASSERT_TRUE(server.WriteConfiguration(L"ld-pics", config));
    for (const int language : {0, 1}) {
        const std::wstring suffix = language == 0 ? L"-en.png" : L"-es.png";
        RunningWizard wizard(L"DLM", L"ld-pics");
        ASSERT_NE(wizard.host, nullptr);
        HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage", language);
        ASSERT_NE(welcome, nullptr);
        EXPECT_TRUE(wizard.driver.IsControlVisible(wizard.host, IDC_PRODUCT_ICON));
        EXPECT_TRUE(wizard.driver.IsControlVisible(welcome, IDC_TERMS_LINK));
        ::Sleep(300);
        EXPECT_TRUE(wizard.driver.SaveScreenshot(wizard.host, ShotPath(L"dlm-welcome-picture" + suffix)));
        ASSERT_TRUE(wizard.driver.Click(welcome, IDC_NEXT));
        ASSERT_TRUE(
            wizard.driver.WaitUntil([&] { return wizard.driver.CurrentPageName() == L"ProductPage"; }, kUiTimeoutMs));
        ::Sleep(300);
        EXPECT_TRUE(wizard.driver.SaveScreenshot(wizard.host, ShotPath(L"dlm-offer-picture" + suffix)));
    }
}

TEST_F(LoadingFlow, AProductPictureOverPlainHttpIsNeverFetched) {
    // Served, on both ports: only the wizard's choice keeps it from coming.
    ASSERT_TRUE(server.SetFile(
        {{"path", "/f/pic-plain.png"}, {"bodyBase64", PictureBase64(IDR_IMAGE_DOWNLOAD, L"IMAGE_BLOB")}}));
    ASSERT_TRUE(server.WriteConfiguration(L"ld-plpc",
                                          R"({"i":{"ct":"Kestrel Viewer","cu":"https://127.0.0.1/f/k.exe",)"
                                          R"("cl":"HTTP://127.0.0.1/f/pic-plain.png"},"f":{"m":3},"o":[]})"));
    RunningWizard wizard(L"DLM", L"ld-plpc");
    ASSERT_NE(wizard.host, nullptr);
    // Loading waits for the product's picture, had it been asked for.
    ASSERT_NE(LeaveLanguagePage(wizard, L"WelcomePage"), nullptr);
    EXPECT_EQ(server.FullRequests(L"/f/pic-plain.png").size(), 0u);
}

TEST_F(LoadingFlow, FailedPicturesStillCompleteLoadingOnce) {
    // None of these pictures exists on the file host.
    const std::string offers =
        "[" + Offer("np-a", 1, "A") + "," + Offer("np-b", 2, "B") + "," + Offer("np-c", 3, "C") + "]";
    ASSERT_TRUE(
        server.WriteConfiguration(L"ld-nopc", std::string("{") + kProduct + R"(,"f":{"m":5},"o":)" + offers + "}"));
    RunningWizard wizard(L"DLM", L"ld-nopc");
    ASSERT_NE(wizard.host, nullptr);
    HWND welcome = LeaveLanguagePage(wizard, L"WelcomePage");
    ASSERT_NE(welcome, nullptr);
    // Completing twice would have added every offer page twice.
    EXPECT_EQ(AcceptAllOffers(wizard.driver, welcome), 3);
}

TEST_F(LoadingFlow, ClosingWhilePicturesAreStillLoadingEndsCleanly) {
    ASSERT_TRUE(server.SetFile({{"path", "/f/img/slow-a.png"},
                                {"bodyBase64", PictureBase64(IDR_IMAGE_FINISHED, L"IMAGE_BLOB2")},
                                {"chunkBytes", 64},
                                {"chunkDelayMs", 200}}));
    ASSERT_TRUE(server.WriteConfiguration(
        L"ld-slow", std::string("{") + kProduct + R"(,"f":{"m":3},"o":[)" + Offer("slow-a", 1, "Slow") + "]}"));
    RunningWizard wizard(L"DLM", L"ld-slow");
    ASSERT_NE(wizard.host, nullptr);
    HWND page = wizard.driver.WaitForPage(L"LanguagePage", kUiTimeoutMs);
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(wizard.driver.Click(page, IDC_NEXT));
    // The configuration is there at once; the picture trickles in.
    ASSERT_TRUE(
        wizard.driver.WaitUntil([&] { return server.FullRequests(L"/f/img/slow-a.png").size() == 1; }, kUiTimeoutMs));
    EXPECT_EQ(wizard.driver.CurrentPageName(), L"LoadingPage");
    ASSERT_TRUE(wizard.driver.Close());
    const auto box = wizard.driver.WaitForMessageBox(kUiTimeoutMs);
    ASSERT_TRUE(box.has_value());
    ASSERT_TRUE(wizard.driver.Answer(box->window, IDOK));
    ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
    EXPECT_EQ(wizard.process.ExitCode(), 0u);
}

}  // namespace
