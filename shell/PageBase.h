// What every page does with the host's callbacks: it keeps them, and reports
// its buttons and errors through them. A page created without a host (or
// before the host has handed them over) reports nothing.
#pragma once

#include <string>

#include "shell/IPage.h"

class PageBase : public IPage {
public:
    using IPage::IPage;

    void SetButtonCallback(ButtonCallback callback) override;
    void SetErrorCallback(ErrorCallback callback) override;

protected:
    // Tells the host that button was pressed.
    void ReportButton(ButtonType button) const;
    // A click on the control reports button.
    void MapButton(int controlId, ButtonType button);
    // Tells the host about an error, in the current language.
    void ReportError(const std::string& titleKey, const std::string& textKey) const;

private:
    ButtonCallback buttonCallback;
    ErrorCallback errorCallback;
};
