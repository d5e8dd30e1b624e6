#include "framework/BitmapDecoding.h"

#include <shlwapi.h>

#include "framework/ComPtr.h"
#include "framework/GdiplusSession.h"

namespace framework {

namespace {

void ReleaseBitmap(Gdiplus::Bitmap* bitmap) {
    GdiplusUse gdiplus;
    // Once GDI+ is gone the bitmap is left to the end of the process.
    if (gdiplus) std::default_delete<Gdiplus::Bitmap>()(bitmap);
}

}  // namespace

std::shared_ptr<Gdiplus::Bitmap> DecodeBitmap(IStream* stream) {
    GdiplusUse gdiplus;
    if (!gdiplus || !stream) return nullptr;
    auto bitmap = std::make_unique<Gdiplus::Bitmap>(stream);
    if (bitmap->GetLastStatus() != Gdiplus::Ok) return nullptr;
    return std::shared_ptr<Gdiplus::Bitmap>(bitmap.release(), ReleaseBitmap);
}

std::shared_ptr<Gdiplus::Bitmap> DecodeBitmap(const std::vector<char>& bytes) {
    if (bytes.empty()) return nullptr;
    ComPtr<IStream> stream;
    // The stream keeps its own copy of the bytes.
    *stream.Put() = ::SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size()));
    return DecodeBitmap(stream.Get());
}

}  // namespace framework
