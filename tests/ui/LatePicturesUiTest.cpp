// Pictures that are still on their way when the wizard is closed: some are
// decoded just before the close and released while it ends, others arrive
// while the hidden wizard waits for its last event, or never before it is
// gone. The process ends with code 0 and without a fault. The test run checks
// Wine's record of exceptions in this test's output (tests/CMakeLists.txt).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/common/TestServer.h"
#include "tests/ui/WizardUi.h"

namespace {

using namespace ostrel::testing;
using nlohmann::json;

constexpr int kOffers = 8;
constexpr int kFirstPictureDelayMs = 400;
constexpr int kPictureSpacingMs = 300;

std::string ResourceBytes(UINT id, const wchar_t* type) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!resource) return {};
    const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(module, resource)));
    return bytes ? std::string(bytes, ::SizeofResource(module, resource)) : std::string();
}

std::string Offer(int number) {
    const std::string code = "late-" + std::to_string(number);
    return json{{"ad", {{"f", "tag"}, {"o", code}}},
                {"ps", {{"i", "late/" + code + ".png"}, {"dn", code}, {"u", "late/" + code + ".exe"}, {"v", number}}}}
        .dump();
}

TEST(LatePictures, PicturesArrivingAroundTheCloseLeaveNoFault) {
    TestServer server(L"127.0.0.1");
    ASSERT_TRUE(server.Reset()) << "reference server on 127.0.0.1 not reachable";
    const std::string picture = ResourceBytes(IDR_IMAGE_FINISHED, L"IMAGE_BLOB2");
    ASSERT_FALSE(picture.empty());
    // The product's picture comes at once; the offers' ones one after the
    // other, from before the close until after the wizard is gone.
    ASSERT_TRUE(server.WriteServedFile(L"late/product.png", picture));
    std::string offers;
    for (int number = 1; number <= kOffers; ++number) {
        ASSERT_TRUE(server.WriteServedFile(L"late/late-" + std::to_wstring(number) + L".png", picture));
        ASSERT_TRUE(server.SetFaults({{"path", "/f/late/late-" + std::to_string(number) + ".png"},
                                      {"delayMs", kFirstPictureDelayMs + (number - 1) * kPictureSpacingMs}}));
        if (number > 1) offers += ",";
        offers += Offer(number);
    }
    ASSERT_TRUE(server.WriteConfiguration(
        L"lp-pics",
        R"({"i":{"ct":"Kestrel Viewer","cu":"https://127.0.0.1/f/k.exe","cl":"https://127.0.0.1/f/late/product.png"},)"
        R"("f":{"m":)" +
            std::to_string(kOffers) + R"(},"o":[)" + offers + "]}"));
    // The closed wizard waits about a second for its last event meanwhile.
    ASSERT_TRUE(server.SetFaults({{"path", "/zbd"}, {"delayMs", 1000}, {"count", 10}}));

    // Exceptions and faults of the wizard land in this test's output.
    RunningWizard wizard(L"DLM", L"lp-pics", {{L"WINEDEBUG=-all,warn+seh,err+seh"}});
    ASSERT_NE(wizard.host, nullptr);
    HWND page = wizard.driver.WaitForPage(L"LanguagePage", kUiTimeoutMs);
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(wizard.driver.Click(page, IDC_NEXT));
    // Once the product's picture is fetched the offers' ones are all asked for.
    ASSERT_TRUE(
        wizard.driver.WaitUntil([&] { return server.FullRequests(L"/f/late/product.png").size() == 1; }, kUiTimeoutMs));
    ::Sleep(kFirstPictureDelayMs + kPictureSpacingMs);
    ASSERT_EQ(wizard.driver.CurrentPageName(), L"LoadingPage");

    ASSERT_TRUE(wizard.driver.Close());
    const auto box = wizard.driver.WaitForMessageBox(kUiTimeoutMs);
    ASSERT_TRUE(box.has_value());
    ASSERT_TRUE(wizard.driver.Answer(box->window, IDOK));
    ASSERT_TRUE(wizard.process.WaitForExit(kUiTimeoutMs));
    EXPECT_EQ(wizard.process.ExitCode(), 0u);
    // Let the held pictures go before the next test resets the server.
    ::Sleep(kOffers * kPictureSpacingMs);
}

}  // namespace
