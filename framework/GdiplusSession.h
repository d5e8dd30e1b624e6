// Starts GDI+ for the lifetime of the object.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "framework/LifetimeGate.h"

namespace framework {

class GdiplusSession {
public:
    GdiplusSession();
    // The last session waits for every GdiplusUse still held, then GDI+ shuts down.
    ~GdiplusSession();
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

    bool Started() const { return status_ == Gdiplus::Ok; }

private:
    Gdiplus::GdiplusStartupInput gdiplusStartupInput;
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::Status status_ = Gdiplus::GenericError;
};

// Held by a thread that may outlive the window (a picture download) while it
// makes, stores or frees GDI+ objects: as long as one is held GDI+ stays up,
// and so does everything that ends after it at process exit (the settings).
// One asked for when no session runs any more holds nothing: the thread must
// then leave GDI+ alone.
class GdiplusUse {
public:
    GdiplusUse();
    GdiplusUse(const GdiplusUse&) = delete;
    GdiplusUse& operator=(const GdiplusUse&) = delete;

    explicit operator bool() const { return static_cast<bool>(entry_); }

private:
    GateEntry entry_;
};

}  // namespace framework
