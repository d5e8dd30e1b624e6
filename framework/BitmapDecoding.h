// Pictures decoded into GDI+ bitmaps that one thread may make and another
// release at any time, the process's exit included. They are made only while
// GDI+ runs, and freed through GDI+ only while it still runs: after its
// shutdown GDI+ has let go of them already, and freeing one would call into it.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>
#include <vector>

#include "framework/GdiplusSession.h"
#include "framework/SharedPicture.h"

namespace framework {

// Null when GDI+ no longer runs or the bytes are no picture it can read.
std::shared_ptr<Gdiplus::Bitmap> DecodeBitmap(IStream* stream);
std::shared_ptr<Gdiplus::Bitmap> DecodeBitmap(const std::vector<char>& bytes);

// Decodes downloaded bytes into a picture shared with the window thread; bytes
// that are no picture leave the old one. GDI+ is held up until the picture is
// stored, so a download finishing while the process exits never stores a
// picture GDI+ has already let go of. Returns whether a picture was stored.
template <typename Picture>
bool StoreDecodedPicture(const std::vector<char>& bytes, SharedPicture<Picture>& picture) {
    GdiplusUse gdiplus;
    if (!gdiplus) return false;
    std::shared_ptr<Gdiplus::Bitmap> bitmap = DecodeBitmap(bytes);
    if (!bitmap) return false;
    picture.Set(std::move(bitmap));
    return true;
}

}  // namespace framework
