// A static control that draws a shared GDI+ image stretched to its client area.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>

#include "framework/SubclassedWindow.h"

class CStaticFromImage : public framework::CSubclassedWnd {
public:
    void SetImage(std::shared_ptr<Gdiplus::Image> newImage);
    void LoadFromResource(UINT id, const wchar_t* type);
    const std::shared_ptr<Gdiplus::Image>& Image() const { return image; }

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void Paint();

    std::shared_ptr<Gdiplus::Image> image;
};

// A bitmap decoded from one of the module's resources, or null.
std::shared_ptr<Gdiplus::Bitmap> LoadImageFromResource(HINSTANCE module, const wchar_t* name, const wchar_t* type);
