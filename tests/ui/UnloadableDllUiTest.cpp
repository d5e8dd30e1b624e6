// A system DLL that cannot be loaded (here GDI+, switched off in Wine): the
// wizard names it in a message box and ends with a non-zero code, instead of
// an unhandled exception ending in the system's crash dialog.
#include <gtest/gtest.h>

#include <string>

#include "core/TextConversion.h"
#include "tests/ui/WizardUi.h"

namespace {

using namespace ostrel::testing;

// GDI+ switched off for one program name while the object lives. Wine takes
// WINEDLLOVERRIDES from the environment it started with, not from the one a
// program hands its child, so the override goes into its per-program
// settings; a program name of the test's own keeps it from any other.
class GdiplusDisabledFor {
public:
    explicit GdiplusDisabledFor(const std::wstring& exeName)
        : key_(L"Software\\Wine\\AppDefaults\\" + exeName + L"\\DllOverrides") {
        disabled_ = ::RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), L"gdiplus", REG_SZ, L"", sizeof(wchar_t)) ==
                    ERROR_SUCCESS;
    }
    ~GdiplusDisabledFor() { ::RegDeleteTreeW(HKEY_CURRENT_USER, (key_.substr(0, key_.rfind(L'\\'))).c_str()); }
    GdiplusDisabledFor(const GdiplusDisabledFor&) = delete;
    GdiplusDisabledFor& operator=(const GdiplusDisabledFor&) = delete;
    bool Disabled() const { return disabled_; }

private:
    std::wstring key_;
    bool disabled_ = false;
};

// Wine's crash dialog is a window of its debugger's, not of the wizard.
bool CrashDialogShown() {
    return ::FindWindowW(nullptr, L"Program Error") != nullptr;
}

TEST(UnloadableDll, EitherWizardNamesTheDllAndEndsWithAnErrorCodeNotACrash) {
    for (const wchar_t* key : {L"DLM", L"ISV"}) {
        SCOPED_TRACE(testing::Message() << "wizard " << WideToUtf8(key));
        const TokenCopy copy(key, L"nogdiplus");
        const GdiplusDisabledFor disabled(L"setup_nogdiplus.exe");
        ASSERT_TRUE(disabled.Disabled());
        WizardProcess wizard = WizardProcess::Start(copy.Path());
        ASSERT_TRUE(wizard.Started());
        UiDriver driver(wizard.Id());
        const auto box = driver.WaitForMessageBox(kUiTimeoutMs);
        ASSERT_TRUE(box.has_value());
        EXPECT_NE(box->text.find(L"gdiplus.dll"), std::wstring::npos) << WideToUtf8(box->text);
        EXPECT_EQ(box->buttons, std::vector<int>{IDOK});
        ASSERT_TRUE(driver.Answer(box->window, IDOK));
        ASSERT_TRUE(wizard.WaitForExit(kUiTimeoutMs));
        EXPECT_NE(wizard.ExitCode(), 0u);
        EXPECT_NE(wizard.ExitCode(), WizardProcess::kTerminatedExitCode);
        EXPECT_FALSE(driver.WaitUntil(CrashDialogShown, 1000));
    }
}

}  // namespace
