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

namespace framework {

// Null when GDI+ no longer runs or the bytes are no picture it can read.
std::shared_ptr<Gdiplus::Bitmap> DecodeBitmap(IStream* stream);
std::shared_ptr<Gdiplus::Bitmap> DecodeBitmap(const std::vector<char>& bytes);

}  // namespace framework
