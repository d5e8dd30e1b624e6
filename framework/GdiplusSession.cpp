#include "framework/GdiplusSession.h"

namespace framework {

GdiplusSession::GdiplusSession() {
    status_ = Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusStartupInput, nullptr);
}

GdiplusSession::~GdiplusSession() {
    if (status_ == Gdiplus::Ok) Gdiplus::GdiplusShutdown(gdiplusToken);
}

}  // namespace framework
