// The contract between the wizard host and its pages. A page is a child
// dialog: the host creates it, hands it a button callback and an error
// callback, tells it when it becomes current and asks its name; the page
// reports a button or an error and never switches pages itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/Dialog.h"
#include "framework/Strings.h"
#include "localisation/Retextable.h"

class LanguageManager;

enum class ButtonType : std::int32_t {
    Next = 0,
    Accept = 1,
    Close = 2,
    Decline = 3,
    Finish = 4,
};

using ButtonCallback = std::function<void(ButtonType)>;
using ErrorCallback = std::function<void(const CStringW& title, const CStringW& text)>;

class IPage : public framework::CDialog, public Retextable {
public:
    IPage(std::shared_ptr<LanguageManager> languageManager, UINT templateId, HWND parent);
    ~IPage() override;

    virtual void OnNavigateToPage() = 0;
    virtual void SetButtonCallback(ButtonCallback callback) = 0;
    virtual void SetErrorCallback(ErrorCallback callback) = 0;
    // Applies the current language to every registered control.
    void RefreshTexts() override;
    virtual CStringW GetPageName() = 0;

protected:
    // Enter and Escape inside a page never close it.
    void OnOK() override {}
    void OnCancel() override {}

    // Registers a control whose text comes from the language manager.
    void AddLocalizedControl(int controlId, std::string key);

    std::shared_ptr<LanguageManager> languageManager;
    std::vector<std::pair<HWND, std::string>> localizedControls;
};
