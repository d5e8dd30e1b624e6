// UiDriver::SaveScreenshot and the GDI and GDI+ guards it needs.
#include "UiDriver.h"

#include <objidl.h>  // gdiplus.h needs IStream and PROPID declared first
#include <gdiplus.h>

#include <cwchar>
#include <filesystem>

#include "WindowQueries.h"

namespace ostrel::testing {

namespace {

// A wizard busy for longer than this is captured as it stands.
constexpr DWORD kPaintSettleMs = 3000;

class ScreenDc {
public:
    ScreenDc() : dc_(GetDC(nullptr)) {}
    ~ScreenDc() {
        if (dc_ != nullptr) ReleaseDC(nullptr, dc_);
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

struct DcDeleter {
    void operator()(HDC dc) const noexcept { DeleteDC(dc); }
};
using UniqueDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const noexcept { DeleteObject(object); }
};
using UniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;

// Puts the DC's previous object back, so the bitmap can be deleted cleanly.
class SelectionGuard {
public:
    SelectionGuard(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~SelectionGuard() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
    }
    SelectionGuard(const SelectionGuard&) = delete;
    SelectionGuard& operator=(const SelectionGuard&) = delete;
    bool ok() const { return previous_ != nullptr && previous_ != HGDI_ERROR; }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

class GdiplusSession {
public:
    GdiplusSession() {
        const Gdiplus::GdiplusStartupInput input;
        ok_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
    }
    ~GdiplusSession() {
        if (ok_) Gdiplus::GdiplusShutdown(token_);
    }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;
    bool ok() const { return ok_; }

private:
    ULONG_PTR token_ = 0;
    bool ok_ = false;
};

std::optional<CLSID> PngEncoder() {
    UINT count = 0;
    UINT bytes = 0;
    if (Gdiplus::GetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) {
        return std::nullopt;
    }
    // ImageCodecInfo records are followed by the strings they point to, so the
    // buffer is sized in bytes; the vector of records keeps it aligned.
    std::vector<Gdiplus::ImageCodecInfo> buffer(bytes / sizeof(Gdiplus::ImageCodecInfo) + 1);
    if (Gdiplus::GetImageEncoders(count, bytes, buffer.data()) != Gdiplus::Ok) return std::nullopt;
    for (UINT i = 0; i < count; ++i) {
        if (buffer[i].MimeType != nullptr && std::wcscmp(buffer[i].MimeType, L"image/png") == 0) {
            return buffer[i].Clsid;
        }
    }
    return std::nullopt;
}

}  // namespace

bool UiDriver::SaveScreenshot(HWND window, const std::wstring& pngPath) const {
    RECT rect{};
    if (window == nullptr || !GetWindowRect(window, &rect)) return false;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;

    // A window shown a moment ago may not have painted yet. Waiting for its
    // pending paints (rather than forcing a repaint) keeps the picture honest:
    // a part the wizard forgets to repaint still shows stale.
    WaitUntil([&] { return !HasPendingPaint(window); }, kPaintSettleMs);

    const ScreenDc screen;
    if (screen.get() == nullptr) return false;
    const UniqueDc memory(CreateCompatibleDC(screen.get()));
    const UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), width, height));
    if (!memory || !bitmap) return false;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows, as GDI+ expects them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<BYTE> pixels(static_cast<size_t>(width) * height * 4);
    {
        const SelectionGuard selection(memory.get(), bitmap.get());
        if (!selection.ok() ||
            !BitBlt(memory.get(), 0, 0, width, height, screen.get(), rect.left, rect.top, SRCCOPY | CAPTUREBLT)) {
            return false;
        }
    }
    // Copying the pixels out (with the bitmap no longer selected) keeps GDI+
    // away from a DC-bound bitmap.
    if (GetDIBits(memory.get(), bitmap.get(), 0, height, pixels.data(), &info, DIB_RGB_COLORS) != height) {
        return false;
    }

    const std::filesystem::path path(pngPath);
    if (path.has_parent_path()) {
        std::error_code error;
        std::filesystem::create_directories(path.parent_path(), error);
        if (error) return false;
    }

    const GdiplusSession gdiplus;
    if (!gdiplus.ok()) return false;
    const std::optional<CLSID> png = PngEncoder();
    if (!png) return false;
    Gdiplus::Bitmap image(width, height, width * 4, PixelFormat32bppRGB, pixels.data());
    return image.GetLastStatus() == Gdiplus::Ok && image.Save(pngPath.c_str(), &*png, nullptr) == Gdiplus::Ok;
}

}  // namespace ostrel::testing
