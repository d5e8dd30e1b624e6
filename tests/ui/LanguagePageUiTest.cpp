// The language page of the real wizards: which languages are listed, which
// one is preselected for the user's locale, and live switching.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/ui/WizardUi.h"

namespace {

using namespace ostrel::testing;

const std::wstring kSpanishSplash = L"Para continuar, selecciona tu idioma preferido y haz clic en \"SIGUIENTE\".";
const std::wstring kEnglishSplash = L"To continue, please select your preferred language, and click \"Next\".";

// Run with LC_ALL=es_ES.UTF-8.
TEST(UserLocale_es_ES, SpanishIsPreselectedAndSwitchingRetextsThePage) {
    RunningWizard wizard(L"DLM");
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    HWND page = driver.WaitForPage(L"LanguagePage", kUiTimeoutMs);
    ASSERT_NE(page, nullptr);

    EXPECT_EQ(driver.ComboItems(page, IDC_LANGUAGE_LIST), (std::vector<std::wstring>{L"English", L"espa\u00f1ol"}));
    EXPECT_EQ(driver.ComboSelection(page, IDC_LANGUAGE_LIST), 1);
    EXPECT_EQ(driver.ControlText(page, IDC_SPLASH_TEXT), kSpanishSplash);
    EXPECT_EQ(driver.ControlText(page, IDC_NEXT), L"SIGUIENTE");
    EXPECT_TRUE(driver.SaveScreenshot(wizard.host, ShotPath(L"dlm-language-page-es.png")));

    ASSERT_TRUE(driver.SelectComboItem(page, IDC_LANGUAGE_LIST, 0));
    EXPECT_TRUE(driver.WaitUntil([&] { return driver.ControlText(page, IDC_SPLASH_TEXT) == kEnglishSplash; }, 5000));
    EXPECT_EQ(driver.ControlText(page, IDC_NEXT), L"Next");
    EXPECT_TRUE(driver.SaveScreenshot(wizard.host, ShotPath(L"dlm-language-page-en.png")));

    ASSERT_TRUE(driver.SelectComboItem(page, IDC_LANGUAGE_LIST, 1));
    EXPECT_TRUE(driver.WaitUntil([&] { return driver.ControlText(page, IDC_NEXT) == L"SIGUIENTE"; }, 5000));
}

// Run with LC_ALL=de_DE.UTF-8: no document is German, so English is chosen.
TEST(UserLocale_de_DE, EnglishIsPreselectedWhenNoDocumentMatches) {
    for (const wchar_t* key : {L"DLM", L"ISV"}) {
        RunningWizard wizard(key);
        ASSERT_NE(wizard.host, nullptr) << key;
        HWND page = wizard.driver.WaitForPage(L"LanguagePage", kUiTimeoutMs);
        ASSERT_NE(page, nullptr) << key;
        EXPECT_EQ(wizard.driver.ComboItems(page, IDC_LANGUAGE_LIST).size(), 2u) << key;
        EXPECT_EQ(wizard.driver.ComboSelection(page, IDC_LANGUAGE_LIST), 0) << key;
        EXPECT_EQ(wizard.driver.ControlText(page, IDC_SPLASH_TEXT), kEnglishSplash) << key;
    }
}

TEST(LanguagePage, InstallerWizardSwitchesLanguagesToo) {
    RunningWizard wizard(L"ISV");
    ASSERT_NE(wizard.host, nullptr);
    UiDriver& driver = wizard.driver;
    HWND page = driver.WaitForPage(L"LanguagePage", kUiTimeoutMs);
    ASSERT_NE(page, nullptr);
    const std::vector<std::wstring> items = driver.ComboItems(page, IDC_LANGUAGE_LIST);
    ASSERT_EQ(items.size(), 2u);
    const int spanish = items[0] == L"English" ? 1 : 0;
    ASSERT_TRUE(driver.SelectComboItem(page, IDC_LANGUAGE_LIST, spanish));
    EXPECT_TRUE(driver.WaitUntil([&] { return driver.ControlText(page, IDC_SPLASH_TEXT) == kSpanishSplash; }, 5000));
    EXPECT_TRUE(driver.SaveScreenshot(wizard.host, ShotPath(L"isv-language-page-es.png")));
    ASSERT_TRUE(driver.SelectComboItem(page, IDC_LANGUAGE_LIST, 1 - spanish));
    EXPECT_TRUE(driver.WaitUntil([&] { return driver.ControlText(page, IDC_SPLASH_TEXT) == kEnglishSplash; }, 5000));
    EXPECT_TRUE(driver.SaveScreenshot(wizard.host, ShotPath(L"isv-language-page-en.png")));
}

}  // namespace
