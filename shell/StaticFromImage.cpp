#include "shell/StaticFromImage.h"

#include <cstring>

#include "framework/BitmapDecoding.h"
#include "framework/ComPtr.h"
#include "framework/Handles.h"

void CStaticFromImage::SetImage(std::shared_ptr<Gdiplus::Image> newImage) {
    image = std::move(newImage);
    Invalidate(true);
}

void CStaticFromImage::LoadFromResource(UINT id, const wchar_t* type) {
    image = LoadImageFromResource(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), type);
    Invalidate(true);
}

bool CStaticFromImage::OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
    if (message != WM_PAINT) return false;
    Paint();
    result = 0;
    return true;
}

void CStaticFromImage::Paint() {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(hwnd_, &paint);
    if (dc) {
        const RECT client = GetClientRect();
        // Pictures have transparent parts, and a removed picture must not
        // linger: start from the background the dialog gives its statics.
        HWND parent = ::GetParent(hwnd_);
        auto brush = reinterpret_cast<HBRUSH>(
            ::SendMessageW(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd_)));
        ::FillRect(dc, &client, brush ? brush : ::GetSysColorBrush(COLOR_BTNFACE));
        if (image) {
            Gdiplus::Graphics graphics(dc);
            graphics.DrawImage(image.get(), 0, 0, static_cast<INT>(client.right), static_cast<INT>(client.bottom));
        }
    }
    ::EndPaint(hwnd_, &paint);
}

std::shared_ptr<Gdiplus::Bitmap> LoadImageFromResource(HINSTANCE module, const wchar_t* name, const wchar_t* type) {
    HRSRC resource = ::FindResourceW(module, name, type);
    if (!resource) return nullptr;
    const DWORD size = ::SizeofResource(module, resource);
    if (size == 0) return nullptr;
    HGLOBAL loaded = ::LoadResource(module, resource);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes) return nullptr;

    framework::UniqueGlobalMemory block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size));
    if (!block) return nullptr;
    void* target = ::GlobalLock(block.Get());
    if (!target) return nullptr;
    std::memcpy(target, bytes, size);
    ::GlobalUnlock(block.Get());

    framework::ComPtr<IStream> stream;
    if (FAILED(::CreateStreamOnHGlobal(block.Get(), TRUE, stream.Put()))) return nullptr;
    block.Release();  // the stream frees the block when it is released

    return framework::DecodeBitmap(stream.Get());
}
