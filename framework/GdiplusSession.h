// Starts GDI+ for the lifetime of the object.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

namespace framework {

class GdiplusSession {
public:
    GdiplusSession();
    ~GdiplusSession();
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

    bool Started() const { return status_ == Gdiplus::Ok; }

private:
    Gdiplus::GdiplusStartupInput gdiplusStartupInput;
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::Status status_ = Gdiplus::GenericError;
};

}  // namespace framework
