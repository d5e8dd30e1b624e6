// Page texts and the picture control, on windows of this process.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "localisation/LanguageManager.h"
#include "resources/resource.h"
#include "core/ConfigurationManager.h"
#include "shell/IPage.h"
#include "shell/StaticFromImage.h"
#include "tests/common/TestSupport.h"

namespace {

using ostrel::testing::PumpMessages;

// A page on the language page's template that registers its two texts and
// lets a test destroy one of the controls.
class TextPage : public IPage {
public:
    explicit TextPage(std::shared_ptr<LanguageManager> manager)
        : IPage(std::move(manager), IDD_LANGUAGE_PAGE, nullptr) {}
    ~TextPage() override { ::DestroyWindow(owner); }
    // Pages are child windows: they need a parent to exist at all.
    bool CreateInOwnWindow() {
        owner = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 600, 500, nullptr, nullptr, nullptr, nullptr);
        return owner && Create(owner);
    }
    HWND owner = nullptr;
    void OnNavigateToPage() override {}
    void SetButtonCallback(ButtonCallback) override {}
    void SetErrorCallback(ErrorCallback) override {}
    CStringW GetPageName() override { return L"TextPage"; }

protected:
    BOOL OnInitDialog() override {
        AddLocalizedControl(IDC_NEXT, "BUTTON_NEXT");
        AddLocalizedControl(IDC_SPLASH_TEXT, "SPLASH_TEXT");
        AddLocalizedControl(IDC_LANGUAGE_LIST, "NO_SUCH_KEY");
        return TRUE;
    }
};

struct Languages {
    Languages()
        : settings(std::make_shared<ConfigurationManager>("DLM", [](const CStringW&) {})),
          manager(std::make_shared<LanguageManager>(settings, [](const CStringW&) {})) {
        framework::CComboBox list;
        HWND combo = ::CreateWindowExW(0, L"COMBOBOX", L"", WS_POPUP | CBS_DROPDOWNLIST, 0, 0, 10, 10, nullptr, nullptr,
                                       nullptr, nullptr);
        list.Attach(combo);
        manager->FillLanguageList(list);
        ::DestroyWindow(combo);
    }
    ~Languages() { ostrel::testing::RemoveDirectoryTree(settings->workDirectory); }
    std::shared_ptr<ConfigurationManager> settings;
    std::shared_ptr<LanguageManager> manager;
};

std::wstring ControlText(HWND page, int id) {
    wchar_t buffer[512] = {};
    ::GetDlgItemTextW(page, id, buffer, 512);
    return buffer;
}

TEST(PageTexts, SwitchingLanguageRetextsLivePagesAndSkipsLostControls) {
    Languages languages;
    TextPage page(languages.manager);
    ASSERT_TRUE(page.CreateInOwnWindow());
    HWND window = page.GetSafeHwnd();
    // Nothing applied yet: the template texts show.
    EXPECT_EQ(ControlText(window, IDC_NEXT), L"NEXT placeholder");

    ASSERT_TRUE(languages.manager->SetLanguage(L"espa\u00f1ol"));
    EXPECT_EQ(ControlText(window, IDC_NEXT), L"SIGUIENTE");
    // A key the language lacks leaves the control as it was.
    const std::wstring listText = ControlText(window, IDC_LANGUAGE_LIST);

    ::DestroyWindow(::GetDlgItem(window, IDC_NEXT));
    ASSERT_TRUE(languages.manager->SetLanguage(L"English"));
    EXPECT_EQ(ControlText(window, IDC_SPLASH_TEXT),
              L"To continue, please select your preferred language, and click \"Next\".");
    EXPECT_EQ(ControlText(window, IDC_LANGUAGE_LIST), listText);
}

TEST(PageTexts, DestroyedPagesLeaveTheLanguageManager) {
    Languages languages;
    {
        TextPage page(languages.manager);
        ASSERT_TRUE(page.CreateInOwnWindow());
    }
    // Would touch the destroyed page if it were still listed.
    EXPECT_TRUE(languages.manager->SetLanguage(L"English"));
}

TEST(PictureResources, DecodeTheEmbeddedPngsAndRejectUnknownNames) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    struct Picture {
        UINT id;
        const wchar_t* type;
    };
    for (const Picture picture :
         {Picture{IDR_IMAGE_DOWNLOAD, L"IMAGE_BLOB"}, Picture{IDR_IMAGE_FINISHED, L"IMAGE_BLOB2"},
          Picture{IDR_IMAGE_ERROR, L"IMAGE_BLOB3"}}) {
        auto bitmap = LoadImageFromResource(module, MAKEINTRESOURCEW(picture.id), picture.type);
        ASSERT_NE(bitmap, nullptr) << picture.type;
        EXPECT_EQ(bitmap->GetWidth(), 512u);
        EXPECT_EQ(bitmap->GetHeight(), 512u);
        // Transparent corners, opaque centre.
        Gdiplus::Color corner, centre;
        bitmap->GetPixel(2, 2, &corner);
        bitmap->GetPixel(256, 100, &centre);
        EXPECT_EQ(corner.GetA(), 0) << picture.type;
        EXPECT_EQ(centre.GetA(), 255) << picture.type;
    }
    EXPECT_EQ(LoadImageFromResource(module, MAKEINTRESOURCEW(999), L"IMAGE_BLOB"), nullptr);
    EXPECT_EQ(LoadImageFromResource(module, MAKEINTRESOURCEW(IDR_IMAGE_ERROR), L"IMAGE_BLOB"), nullptr);
}

// A visible window with one static child, for looking at painted pixels.
class PictureWindow {
public:
    PictureWindow() {
        frame = ::CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 10, 10, 120, 120, nullptr,
                                  nullptr, nullptr, nullptr);
        picture = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 10, 10, 100, 100, frame, nullptr, nullptr,
                                    nullptr);
    }
    ~PictureWindow() { ::DestroyWindow(frame); }
    COLORREF PixelAt(int x, int y) const {
        HDC dc = ::GetDC(picture);
        const COLORREF colour = ::GetPixel(dc, x, y);
        ::ReleaseDC(picture, dc);
        return colour;
    }
    HWND frame;
    HWND picture;
};

TEST(StaticFromImage, DrawsNothingUntilGivenAPictureThenStretchesIt) {
    PictureWindow window;
    CStaticFromImage control;
    control.Attach(window.picture);
    ::UpdateWindow(window.frame);
    PumpMessages(100);
    const COLORREF empty = window.PixelAt(50, 50);
    EXPECT_LT(GetRValue(empty) - GetGValue(empty), 40) << "an empty control should show its background";

    control.LoadFromResource(IDR_IMAGE_ERROR, L"IMAGE_BLOB3");
    ASSERT_NE(control.Image(), nullptr);
    PumpMessages(100);
    // The red circle fills the middle of the 100 x 100 control; the white
    // cross runs through the centre, so sample off the diagonals.
    const COLORREF red = window.PixelAt(50, 12);
    EXPECT_GT(GetRValue(red), 150);
    EXPECT_LT(GetGValue(red), 100);

    control.SetImage(nullptr);
    PumpMessages(100);
    EXPECT_EQ(window.PixelAt(50, 12), empty);
}

}  // namespace
