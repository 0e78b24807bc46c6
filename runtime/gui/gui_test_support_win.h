// Test support for window tests: a plain top-level window of the test's own
// (the stand-in for a window of another program, such as the taskbar's band
// site), reading pixels back, and (from testing/message_wait_win.h) waiting
// for messages to be handled.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "runtime/gui/testing/message_box_watcher_win.h"
#include "runtime/gui/testing/message_wait_win.h"
#include "runtime/win/gdi_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::gui::testing {

// A visible top-level window with a plain window procedure and a solid
// background brush, destroyed with the object unless destroyed before.
class HostWindow {
 public:
  explicit HostWindow(int width = 400, int height = 120, COLORREF background = RGB(255, 0, 255)) {
    static const ATOM atom = [] {
      WNDCLASSA window_class{};
      window_class.lpfnWndProc = DefWindowProcA;
      window_class.hInstance = GetModuleHandleA(nullptr);
      window_class.lpszClassName = "VellumTestHostWindow";
      window_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
      return RegisterClassA(&window_class);
    }();
    (void)atom;
    brush_.reset(CreateSolidBrush(background));
    window_.reset(CreateWindowExA(0, "VellumTestHostWindow", "host", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr));
    SetClassLongPtrA(window_.get(), GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(brush_.get()));
  }
  HWND get() const { return window_.get(); }
  // Above every ordinary window, away from the corner where most tests put
  // theirs: for tests that move the real mouse or read the screen (and hold
  // a ScreenLock meanwhile).
  void MakeTopmost() const { SetWindowPos(window_.get(), HWND_TOPMOST, 820, 560, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE); }
  // Destroys the window now (as the shell does with a band's site).
  void Destroy() { window_.reset(); }

 private:
  win::UniqueBrush brush_;
  win::UniqueWindow window_;
};

// Held by tests that move the real mouse or read pixels of a window on the
// screen: test programs of one Wine session run side by side, and two of
// them with topmost windows in the same place would take each other's input.
// A test that cannot get the lock fails and stops: without it, what it reads
// from the screen may belong to another test.
class ScreenLock {
 public:
  static constexpr DWORD kTimeoutMs = 60000;

  ScreenLock() : mutex_(CreateMutexA(nullptr, FALSE, "Local\\VellumTestScreenLock")) {
    if (!mutex_) Fail("CreateMutexA failed with error " + std::to_string(GetLastError()));
    const DWORD result = WaitForSingleObject(mutex_.get(), kTimeoutMs);
    // Abandoned: a test program ended while holding it; the lock is ours now.
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
      Fail(result == WAIT_TIMEOUT ? "another test held it for " + std::to_string(kTimeoutMs / 1000) + " s"
                                  : "WaitForSingleObject failed with error " + std::to_string(GetLastError()));
    }
  }
  ~ScreenLock() { ReleaseMutex(mutex_.get()); }
  ScreenLock(const ScreenLock&) = delete;
  ScreenLock& operator=(const ScreenLock&) = delete;

 private:
  [[noreturn]] static void Fail(const std::string& reason) {
    const std::string message = "no screen lock (" + reason + "): the test does not go on without it";
    ADD_FAILURE() << message;
    throw std::runtime_error(message);  // ends the test; GoogleTest catches it
  }

  win::UniqueKernelHandle mutex_;
};

// A 32-bit top-down DIB section selected into a memory DC, for reading back
// what a window painted into a DC it was handed.
class PixelCanvas {
 public:
  PixelCanvas(int width, int height, COLORREF fill)
      : width_(width),
        height_(height),
        bitmap_(CreateSection(dc_.get(), width, height, bits_)),
        selected_(dc_.get(), bitmap_.get()) {
    Fill(fill);
  }
  PixelCanvas(const PixelCanvas&) = delete;
  PixelCanvas& operator=(const PixelCanvas&) = delete;

  HDC dc() const { return dc_.get(); }
  void Fill(COLORREF color) {
    for (int i = 0; i < width_ * height_; ++i) bits_[i] = ToPixel(color);
  }
  COLORREF At(int x, int y) const {
    GdiFlush();
    const DWORD pixel = bits_[y * width_ + x];
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
  }
  // How many pixels of the rectangle have exactly this colour.
  int Count(COLORREF color, int left, int top, int right, int bottom) const {
    int count = 0;
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) count += At(x, y) == color ? 1 : 0;
    }
    return count;
  }

 private:
  static HBITMAP CreateSection(HDC dc, int width, int height, DWORD*& bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
  }
  static DWORD ToPixel(COLORREF color) {
    return (static_cast<DWORD>(GetRValue(color)) << 16) | (static_cast<DWORD>(GetGValue(color)) << 8) |
           GetBValue(color);
  }
  int width_;
  int height_;
  DWORD* bits_ = nullptr;
  // Declared in the order they are made; destroyed the other way round.
  win::MemoryDC dc_{nullptr};
  win::UniqueBitmap bitmap_;
  win::SelectedObject selected_;
};

}  // namespace vellum::gui::testing
