#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "framework/Controls.h"
#include "localisation/LanguageManager.h"
#include "localisation/Retextable.h"
#include "core/ConfigurationManager.h"
#include "resources/resource.h"
#include "tests/common/TestSupport.h"

namespace {

// A language manager over its own settings, collecting its message boxes.
struct Languages {
    explicit Languages(const char* key, const wchar_t* productTitle = nullptr)
        : settings(std::make_shared<ConfigurationManager>(key, [](const CStringW&) {})) {
        if (productTitle) settings->productTitle = productTitle;
        manager =
            std::make_unique<LanguageManager>(settings, [this](const CStringW& text) { messages.push_back(text); });
    }
    ~Languages() { ostrel::testing::RemoveDirectoryTree(settings->workDirectory); }

    bool Load(int id) {
        tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
        return manager->LoadLocaleDocument(id, document) && manager->ParseLocaleDocument(document);
    }
    bool Parse(const char* xml) {
        tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
        if (document.Parse(xml) != tinyxml2::XML_SUCCESS) return false;
        return manager->ParseLocaleDocument(document);
    }

    std::shared_ptr<ConfigurationManager> settings;
    std::unique_ptr<LanguageManager> manager;
    std::vector<CStringW> messages;
};

std::set<std::string> KeysOf(int id) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(id), L"LOCALE");
    const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(module, resource)));
    tinyxml2::XMLDocument document;
    document.Parse(bytes, ::SizeofResource(module, resource));
    std::set<std::string> keys;
    for (auto* e = document.RootElement()->FirstChildElement(); e; e = e->NextSiblingElement()) keys.insert(e->Name());
    return keys;
}

// Keys both wizard types carry, and those of each type alone.
const std::set<std::string> kSharedKeys{
    "SPLASH_TEXT",           "WELCOME_TITLE",     "WELCOME_TEXT",       "PRIVACY_LINK",
    "PROGRESS_TITLE",        "PROGRESS_DESC",     "PROGRESS_STAT_TEXT", "PROGRESS_STATUS",
    "PROGRESS_STATUS_START", "PAGE_FINISH_TITLE", "PAGE_FINISH_TEXT",   "BUTTON_DECLINE",
    "BUTTON_CLOSE",          "BUTTON_ACCEPT",     "BUTTON_NEXT",        "BUTTON_RETRY",
    "BUTTON_FINISH",         "BUTTON_SKIP_ALL",   "MSG_EXIT",           "PROGRESS_QUIT"};

std::set<std::string> WithSharedKeys(std::initializer_list<std::string> own) {
    std::set<std::string> keys = kSharedKeys;
    keys.insert(own);
    return keys;
}

const std::set<std::string> kDownloadWizardKeys =
    WithSharedKeys({"TOS_LINK", "SDK_LINK", "LAUNCH_RADIO", "OPEN_FOLDER_RADIO", "OPEN_PRODUCT_SITE_CHECKBOX",
                    "PAGE_DOWNLOAD_ERROR_TITLE", "PAGE_DOWNLOAD_ERROR_DESC", "PAGE_CONFIGURATION_ERROR_TITLE",
                    "PAGE_CONFIGURATION_ERROR_DESC"});

const std::set<std::string> kInstallerWizardKeys =
    WithSharedKeys({"EULA_LINK", "PROGRESS_STAT_INSTALLING", "PROGRESS_STAT_FINISHED", "PROGRESS_STATUS_MAIN",
                    "LAUNCH_CHECKBOX", "UNINSTALL_TEXT", "PAGE_ERROR_TITLE", "PAGE_ERROR_TEXT"});

TEST(LocaleDocuments, EachWizardTypeCarriesItsKeys) {
    EXPECT_EQ(KeysOf(IDR_LOCALE_DLM_EN), kDownloadWizardKeys);
    EXPECT_EQ(KeysOf(IDR_LOCALE_DLM_ES), kDownloadWizardKeys);
    EXPECT_EQ(KeysOf(IDR_LOCALE_ISV_EN), kInstallerWizardKeys);
    std::set<std::string> spanishInstaller = kInstallerWizardKeys;
    spanishInstaller.erase("PAGE_ERROR_TEXT");
    EXPECT_EQ(KeysOf(IDR_LOCALE_ISV_ES), spanishInstaller);
}

TEST(LanguageManager, ResourceIdsFollowTheWizardType) {
    EXPECT_EQ(Languages("DLM").manager->GetResourceIds(), (std::vector<int>{IDR_LOCALE_DLM_EN, IDR_LOCALE_DLM_ES}));
    EXPECT_EQ(Languages("ISV").manager->GetResourceIds(), (std::vector<int>{IDR_LOCALE_ISV_EN, IDR_LOCALE_ISV_ES}));
    EXPECT_TRUE(Languages("XYZ").manager->GetResourceIds().empty());
}

TEST(LanguageManager, EnglishDownloadTextsHaveTheirPlaceholdersReplaced) {
    Languages languages("DLM", L"Kestrel Viewer");
    ASSERT_TRUE(languages.Load(IDR_LOCALE_DLM_EN));
    const LanguageManager& m = *languages.manager;
    EXPECT_EQ(m.GetText("SPLASH_TEXT"), L"To continue, please select your preferred language, and click \"Next\".");
    EXPECT_EQ(m.GetText("WELCOME_TEXT"),
              L"This will download Kestrel Viewer on your computer. Click \"Next\" to continue.");
    EXPECT_EQ(m.GetText("PAGE_FINISH_TITLE"), L"Thank you.\r\nYou have successfully downloaded Kestrel Viewer.");
    EXPECT_EQ(m.GetText("PAGE_FINISH_TEXT"),
              L"To install the software on your machine, click \"Launch\"\r\nClick the \"Finish\" button to exit the "
              L"Setup Wizard");
    EXPECT_EQ(m.GetText("PROGRESS_STATUS"), L"$percent$ Completed");
    EXPECT_EQ(m.GetText("PRODUCT_TITLE"), L"Kestrel Viewer");
    EXPECT_TRUE(languages.messages.empty());
}

TEST(LanguageManager, SpanishTextsKeepTheirAccentsAndNonAsciiTitlesSurvive) {
    Languages languages("DLM", L"Caf\u00e9 \u00d1and\u00fa \u65e5\u672c");
    ASSERT_TRUE(languages.Load(IDR_LOCALE_DLM_ES));
    const LanguageManager& m = *languages.manager;
    EXPECT_EQ(m.GetText("WELCOME_TEXT"),
              L"Esta acci\u00f3n descarga el Caf\u00e9 \u00d1and\u00fa \u65e5\u672c en su equipo. Haga clic en "
              L"\"SIGUIENTE\" para continuar.");
    EXPECT_EQ(m.GetText("PROGRESS_DESC"),
              L"Descargando Caf\u00e9 \u00d1and\u00fa \u65e5\u672c, si\u00e9ntese y rel\u00e1jese");
    EXPECT_EQ(m.GetText("BUTTON_DECLINE"), L"IGNORAR");
}

TEST(LanguageManager, InstallerTextsKeepWhiteSpaceAsWritten) {
    Languages languages("ISV");
    ASSERT_TRUE(languages.Load(IDR_LOCALE_ISV_ES));
    const LanguageManager& m = *languages.manager;
    EXPECT_EQ(m.GetText("PAGE_FINISH_TEXT"),
              L"Ha instalado con \u00e9xito Ostrel Tester. pulse \"FINALIZAR\"  para continuar.");
    EXPECT_EQ(m.GetText("PAGE_FINISH_TITLE"), L"Gracias.\r\n Su instalaci\u00f3n se ha completado.");
    EXPECT_EQ(m.GetText("UNINSTALL_TEXT").substr(0, 2), L"\r\n");
    // The Spanish installer document has no text for this key.
    EXPECT_EQ(m.GetText("PAGE_ERROR_TEXT"), L"");
    ASSERT_TRUE(languages.Load(IDR_LOCALE_ISV_EN));
    EXPECT_EQ(m.GetText("PAGE_ERROR_TEXT"), L"Click on \"Close\" and try again later.");
    EXPECT_EQ(m.GetText("BUTTON_SKIP_ALL"), L"Skip All");
}

TEST(LanguageManager, MissingKeysGiveEmptyText) {
    Languages languages("DLM");
    ASSERT_TRUE(languages.Load(IDR_LOCALE_DLM_EN));
    EXPECT_EQ(languages.manager->GetText("PAGE_ERROR_TEXT"), L"");
    EXPECT_EQ(languages.manager->GetText(""), L"");
}

TEST(LanguageManager, CommentsAndAttributesOfTextsAreIgnored) {
    Languages languages("DLM");
    ASSERT_TRUE(
        languages.Parse("<?xml version='1.0' encoding='utf-8'?><!-- head --><Locale name=\"xx\">"
                        "<!-- one --><A size=\"1,2\"><!-- inner -->alpha {B}</A><B>beta</B></Locale>"));
    EXPECT_EQ(languages.manager->GetText("A"), L"alpha beta");
    EXPECT_TRUE(languages.messages.empty());
}

TEST(LanguageManager, DocumentWithoutLocaleRootKeepsThePreviousTexts) {
    Languages languages("DLM");
    ASSERT_TRUE(languages.Load(IDR_LOCALE_DLM_EN));
    EXPECT_FALSE(languages.Parse("<Other><A>x</A></Other>"));
    ASSERT_EQ(languages.messages.size(), 1u);
    EXPECT_EQ(languages.messages[0], L"Failed to parse language xml file, error code: No Locale element");
    EXPECT_EQ(languages.manager->GetText("BUTTON_NEXT"), L"Next");
}

TEST(LanguageManager, TextWithoutContentStopsParsingAndKeepsWhatWasRead) {
    Languages languages("DLM");
    EXPECT_FALSE(languages.Parse("<Locale name=\"xx\"><A>x {B}</A><B>b</B><C><D>nested</D></C><E>late</E></Locale>"));
    ASSERT_EQ(languages.messages.size(), 1u);
    EXPECT_EQ(languages.messages[0], L"Failed to parse language xml file, error code: No name or text attribute");
    // Read before the failure, but no longer substituted.
    EXPECT_EQ(languages.manager->GetText("A"), L"x {B}");
    EXPECT_EQ(languages.manager->GetText("E"), L"");
    languages.messages.clear();
    EXPECT_FALSE(languages.Parse("<Locale name=\"xx\"><A></A></Locale>"));
    EXPECT_EQ(languages.messages.size(), 1u);
}

TEST(LanguageManager, MissingResourceIsReported) {
    Languages languages("DLM");
    tinyxml2::XMLDocument document;
    EXPECT_FALSE(languages.manager->LoadLocaleDocument(4242, document));
    ASSERT_EQ(languages.messages.size(), 1u);
    EXPECT_EQ(languages.messages[0], L"Failed to find resource with id: 4242");
}

TEST(LanguageManager, DisplayNamesComeFromTheSystem) {
    EXPECT_EQ(GetLanguageDisplayName(L"es"), L"espa\u00f1ol");
    EXPECT_EQ(GetLanguageDisplayName(L"en_US"), L"English");
    EXPECT_EQ(GetLanguageDisplayName(L"de-DE"), L"Deutsch");
    EXPECT_EQ(GetLanguageDisplayName(L"q"), L"q");
}

// A drop-down list that is never shown; enough for filling and reading it.
class HiddenComboBox {
public:
    HiddenComboBox()
        : window(::CreateWindowExW(0, WC_COMBOBOXW, L"", WS_POPUP | CBS_DROPDOWNLIST, 0, 0, 100, 100, nullptr, nullptr,
                                   ::GetModuleHandleW(nullptr), nullptr)) {
        combo.Attach(window);
    }
    ~HiddenComboBox() { ::DestroyWindow(window); }
    HWND window;
    framework::CComboBox combo;
};

TEST(LanguageManager, ListsBothLanguagesAndSwitchesBetweenThem) {
    Languages languages("DLM");
    HiddenComboBox list;
    languages.manager->FillLanguageList(list.combo);
    ASSERT_EQ(list.combo.GetCount(), 2);
    EXPECT_EQ(list.combo.GetLBText(0), L"English");
    EXPECT_EQ(list.combo.GetLBText(1), L"espa\u00f1ol");
    EXPECT_GE(list.combo.GetCurSel(), 0);

    EXPECT_FALSE(languages.manager->SetLanguage(L"Deutsch"));
    ASSERT_TRUE(languages.manager->SetLanguage(L"espa\u00f1ol"));
    EXPECT_EQ(languages.settings->languageName, L"espa\u00f1ol");
    EXPECT_EQ(languages.settings->languageCode, L"es");
    EXPECT_EQ(languages.manager->GetText("BUTTON_NEXT"), L"SIGUIENTE");
    ASSERT_TRUE(languages.manager->SetLanguage(L"English"));
    EXPECT_EQ(languages.settings->languageCode, L"en_US");
    EXPECT_EQ(languages.manager->GetText("BUTTON_NEXT"), L"Next");
    EXPECT_TRUE(languages.messages.empty());
}

TEST(LanguageManager, UnknownWizardTypeListsNothing) {
    Languages languages("XYZ");
    HiddenComboBox list;
    languages.manager->FillLanguageList(list.combo);
    EXPECT_EQ(list.combo.GetCount(), 0);
    EXPECT_EQ(list.combo.GetCurSel(), CB_ERR);
}

// Stands for a page: records, under its name, the text the manager hands out
// at the moment it is re-texted, then runs what the test gives it.
class RecordingRetextable : public Retextable {
public:
    RecordingRetextable(const LanguageManager& manager, std::vector<std::wstring>& log, std::wstring name)
        : manager(manager), log(log), name(std::move(name)) {}
    void RefreshTexts() override {
        log.push_back(name + L":" + manager.GetText("BUTTON_NEXT"));
        if (duringRefresh) duringRefresh();
    }
    std::function<void()> duringRefresh;

private:
    const LanguageManager& manager;
    std::vector<std::wstring>& log;
    std::wstring name;
};

TEST(LanguageManager, LanguageChangesRetextWhatIsRegisteredWithTheNewTexts) {
    Languages languages("DLM");
    HiddenComboBox list;
    languages.manager->FillLanguageList(list.combo);
    std::vector<std::wstring> log;
    RecordingRetextable first(*languages.manager, log, L"first");
    RecordingRetextable second(*languages.manager, log, L"second");
    languages.manager->AddRetextable(&first);
    languages.manager->AddRetextable(&second);

    EXPECT_FALSE(languages.manager->SetLanguage(L"Deutsch"));
    EXPECT_TRUE(log.empty());

    ASSERT_TRUE(languages.manager->SetLanguage(L"espa\u00f1ol"));
    EXPECT_EQ(log, (std::vector<std::wstring>{L"first:SIGUIENTE", L"second:SIGUIENTE"}));

    languages.manager->RemoveRetextable(&first);
    log.clear();
    ASSERT_TRUE(languages.manager->SetLanguage(L"English"));
    EXPECT_EQ(log, (std::vector<std::wstring>{L"second:Next"}));
}

TEST(LanguageManager, RetextablesThatLeaveDuringARefreshAreNotCalled) {
    Languages languages("DLM");
    HiddenComboBox list;
    languages.manager->FillLanguageList(list.combo);
    std::vector<std::wstring> log;
    RecordingRetextable first(*languages.manager, log, L"first");
    RecordingRetextable second(*languages.manager, log, L"second");
    RecordingRetextable third(*languages.manager, log, L"third");
    for (Retextable* retextable : std::initializer_list<Retextable*>{&first, &second, &third})
        languages.manager->AddRetextable(retextable);
    // The first one's refresh takes the second off the list, as a page that
    // destroys another page would.
    first.duringRefresh = [&] { languages.manager->RemoveRetextable(&second); };

    ASSERT_TRUE(languages.manager->SetLanguage(L"English"));
    EXPECT_EQ(log, (std::vector<std::wstring>{L"first:Next", L"third:Next"}));
}

}  // namespace
