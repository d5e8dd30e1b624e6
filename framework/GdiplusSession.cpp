#include "framework/GdiplusSession.h"

namespace framework {

namespace {

// As process-wide as GDI+ itself: its sessions open it, the threads that use
// GDI+ on their own schedule go through it.
constinit LifetimeGate gdiplusGate;

}  // namespace

GdiplusSession::GdiplusSession() {
    status_ = Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusStartupInput, nullptr);
    if (Started()) gdiplusGate.Open();
}

GdiplusSession::~GdiplusSession() {
    if (!Started()) return;
    gdiplusGate.Close();
    Gdiplus::GdiplusShutdown(gdiplusToken);
}

GdiplusUse::GdiplusUse() : entry_(gdiplusGate) {
}

}  // namespace framework
