#include "exceptlog/delivery/screenshot/win/screenshot_win.h"

#include <algorithm>
#include <memory>

#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/delivery/screenshot/win/window_capture_win.h"
#include "runtime/stream.h"
#include "runtime/win/entry_point_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

namespace {

constexpr COLORREF kFocusFrameColor = RGB(255, 0, 0);
constexpr int kCursorSize = 32;

}  // namespace

// GetWindowDC / ReleaseDC, CreateCompatibleDC / DeleteDC, the bitmap and the
// palette selected into the memory DC and put back before they are deleted.
class ScreenCapture {
 public:
  ScreenCapture(HWND window, const RECT& area) : window_(window), area_(area) {
    width_ = std::max<int>(area.right - area.left, 1);
    height_ = std::max<int>(area.bottom - area.top, 1);
    row_length_ = ((width_ * 8 + 31) & ~31) / 8;
    window_dc_ = GetWindowDC(window_);
    memory_dc_ = CreateCompatibleDC(window_dc_);
    bitmap_.reset(CreateCompatibleBitmap(window_dc_, row_length_, height_));
    if (memory_dc_ != nullptr && bitmap_) previous_bitmap_ = SelectObject(memory_dc_, bitmap_.get());
  }
  ~ScreenCapture() {
    if (previous_palette_ != nullptr) SelectPalette(memory_dc_, previous_palette_, FALSE);
    if (previous_bitmap_ != nullptr) SelectObject(memory_dc_, previous_bitmap_);
    palette_.reset();
    bitmap_.reset();
    if (memory_dc_ != nullptr) DeleteDC(memory_dc_);
    if (window_dc_ != nullptr) ReleaseDC(window_, window_dc_);
  }
  ScreenCapture(const ScreenCapture&) = delete;
  ScreenCapture& operator=(const ScreenCapture&) = delete;

  // A palette display's colours are indexes into the system palette: the
  // copy needs the same palette to mean the same colours.
  void UseSystemPalette() {
    if ((GetDeviceCaps(window_dc_, RASTERCAPS) & RC_PALETTE) == 0) return;
    palette_display_ = true;
    struct {
      LOGPALETTE header;
      PALETTEENTRY more[255];
    } logical{};
    logical.header.palVersion = 0x300;
    logical.header.palNumEntries = 256;
    if (GetSystemPaletteEntries(window_dc_, 0, 256, logical.header.palPalEntry) == 0) return;
    palette_.reset(CreatePalette(&logical.header));
    if (palette_) previous_palette_ = SelectPalette(memory_dc_, static_cast<HPALETTE>(palette_.get()), FALSE);
  }

  // The window DC's origin is the window's top left corner (the screen's
  // for the desktop), so a monitor away from the desktop's origin is copied
  // from where it is, not from the desktop's corner.
  void Copy(const RECT& window_rect) {
    BitBlt(memory_dc_, 0, 0, width_, height_, window_dc_, area_.left - window_rect.left, area_.top - window_rect.top,
           SRCCOPY);
  }

  void FrameFocus(HWND focused) {
    RECT frame{};
    if (focused == nullptr || !GetWindowRect(focused, &frame)) return;
    OffsetRect(&frame, -area_.left, -area_.top);
    const win::UniqueBrush red(CreateSolidBrush(kFocusFrameColor));
    FrameRect(memory_dc_, &frame, red.get());
    InflateRect(&frame, -1, -1);
    FrameRect(memory_dc_, &frame, red.get());
  }

  void DrawCursor(HCURSOR cursor) {
    POINT position{};
    if (cursor == nullptr || !GetCursorPos(&position)) return;
    ICONINFO info{};
    if (GetIconInfo(cursor, &info)) {
      // GetIconInfo hands out copies of the cursor's bitmaps.
      const win::UniqueBitmap mask(info.hbmMask);
      const win::UniqueBitmap color(info.hbmColor);
      position.x -= static_cast<LONG>(info.xHotspot);
      position.y -= static_cast<LONG>(info.yHotspot);
    }
    DrawIconEx(memory_dc_, position.x - area_.left, position.y - area_.top, cursor, kCursorSize, kCursorSize, 0,
               nullptr, DI_NORMAL);
  }

  std::vector<std::uint8_t> EncodePng() const {
    // GetDIBits reads a bitmap that no DC holds.
    SelectObject(memory_dc_, previous_bitmap_);
    std::vector<std::uint8_t> png;
    try {
      png = EncodeBitmapPng(memory_dc_, bitmap_.get(), width_, height_);
    } catch (...) {
      SelectObject(memory_dc_, bitmap_.get());
      throw;
    }
    SelectObject(memory_dc_, bitmap_.get());
    return png;
  }

  TScreenCaptureView View() const {
    return {memory_dc_, bitmap_.get(), area_, width_, height_, row_length_, palette_display_};
  }

 private:
  HWND window_;
  RECT area_;
  int width_ = 1, height_ = 1, row_length_ = 4;
  HDC window_dc_ = nullptr;
  HDC memory_dc_ = nullptr;
  win::UniqueBitmap bitmap_;
  HGDIOBJ previous_bitmap_ = nullptr;
  win::UniqueGdiObject palette_;
  HPALETTE previous_palette_ = nullptr;
  bool palette_display_ = false;
};

namespace {

// The full rectangle of the monitor nearest to `window`, where the system
// knows monitors; otherwise `fallback`.
RECT NearestMonitor(HWND window, const RECT& fallback) {
  const HMODULE user32 = GetModuleHandleA("user32.dll");
  const auto monitor_from_window = win::LookUpEntryPoint<decltype(MonitorFromWindow)>(user32, "MonitorFromWindow");
  const auto get_monitor_info = win::LookUpEntryPoint<decltype(GetMonitorInfoA)>(user32, "GetMonitorInfoA");
  if (monitor_from_window == nullptr || get_monitor_info == nullptr) return fallback;
  MONITORINFO info{};
  info.cbSize = sizeof info;
  const HMONITOR monitor = monitor_from_window(window, MONITOR_DEFAULTTONEAREST);
  if (monitor == nullptr || !get_monitor_info(monitor, &info)) return fallback;
  return info.rcMonitor;
}

}  // namespace

std::shared_ptr<ScreenCapture> CaptureScreen(const TScreenshotInputs& inputs) {
  const HWND foreground = GetForegroundWindow();
  HWND window = nullptr;
  RECT window_rect{};
  RECT area{};
  if (inputs.ActiveWindowOnly && foreground != nullptr && GetWindowRect(foreground, &window_rect)) {
    window = foreground;
    area = window_rect;
  } else {
    // Without a foreground window there is only the desktop to show.
    window = GetDesktopWindow();
    GetWindowRect(window, &window_rect);
    area = NearestMonitor(foreground, window_rect);
  }
  auto capture = std::make_shared<ScreenCapture>(window, area);
  capture->UseSystemPalette();
  capture->Copy(window_rect);
  capture->FrameFocus(inputs.FocusedWindow);
  capture->DrawCursor(inputs.Cursor);
  return capture;
}

void SaveScreenshot(const ScreenCapture* capture, const std::string& file_name) {
  if (file_name.empty() || capture == nullptr) return;
  std::vector<std::uint8_t> png;
  try {
    png = capture->EncodePng();
  } catch (const std::exception&) {
    return;  // no picture, no attachment
  }
  try {
    FileStream file(file_name, fmCreate);
    file.WriteBuffer(png.data(), png.size());
  } catch (const std::exception&) {
    // Half a PNG must not be attached as if it were the screenshot.
    RemoveFile(file_name);
  }
}

TScreenCaptureView ViewOf(const ScreenCapture* capture) {
  return capture != nullptr ? capture->View() : TScreenCaptureView{};
}

std::string ScreenshotFileName() {
  char folder[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof folder, folder);
  std::string name = length > 0 && length < sizeof folder ? std::string(folder, length) : std::string();
  if (!name.empty() && name.back() != '\\') name += '\\';
  return name + "Screenshot.png";
}

std::string ScreenshotFileName(const TRuzadaModuleOptions& options) {
  return options.SendFlags().Contains(sfScreenshot) ? ScreenshotFileName() : std::string();
}

}  // namespace vellum::exceptlog
