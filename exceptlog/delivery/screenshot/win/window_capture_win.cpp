#include "exceptlog/delivery/screenshot/win/window_capture_win.h"

#include <algorithm>

#include "exceptlog/delivery/screenshot/png_encoder.h"
#include "runtime/stream.h"
#include "runtime/win/gdi_win.h"
#include "runtime/win/unique_handle_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum::exceptlog {

namespace {

using ScreenDC = win::WindowDC;
using win::MemoryDC;

struct DibHeader {
  BITMAPINFOHEADER header;
  RGBQUAD colors[256];
};

}  // namespace

std::vector<std::uint8_t> EncodeBitmapPng(HDC dc, HBITMAP bitmap, int width, int height) {
  const int row_length = ((width * 8 + 31) & ~31) / 8;
  DibHeader info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = row_length;
  info.header.biHeight = height;  // bottom-up
  info.header.biPlanes = 1;
  info.header.biBitCount = 8;
  info.header.biCompression = BI_RGB;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(row_length) * height);
  if (GetDIBits(dc, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) == 0) {
    win::RaiseLastOSError("GetDIBits");
  }

  PalettePicture picture;
  picture.width = static_cast<std::uint32_t>(width);
  picture.height = static_cast<std::uint32_t>(height);
  for (int i = 0; i < 256; ++i) {
    picture.palette[i] = {info.colors[i].rgbRed, info.colors[i].rgbGreen, info.colors[i].rgbBlue};
  }
  picture.row = [&](std::uint32_t y) { return pixels.data() + static_cast<std::size_t>(height - 1 - y) * row_length; };
  return EncodePalettePng(picture);
}

std::vector<std::uint8_t> CaptureScreenAreaPng(const RECT& area) {
  const int width = std::max<int>(area.right - area.left, 1);
  const int height = std::max<int>(area.bottom - area.top, 1);
  const int row_length = ((width * 8 + 31) & ~31) / 8;

  ScreenDC screen;
  MemoryDC memory(screen.get());
  const win::UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), row_length, height));
  if (!bitmap) win::RaiseLastOSError("CreateCompatibleBitmap");
  {
    // GetDIBits wants the bitmap selected into no DC.
    const win::SelectedObject selected(memory.get(), bitmap.get());
    BitBlt(memory.get(), 0, 0, width, height, screen.get(), area.left, area.top, SRCCOPY);
  }

  return EncodeBitmapPng(memory.get(), bitmap.get(), width, height);
}

void SaveWindowPng(HWND window, const std::string& file_name) {
  RECT area{};
  if (window == nullptr) {
    GetWindowRect(GetDesktopWindow(), &area);
  } else if (!GetWindowRect(window, &area)) {
    win::RaiseLastOSError("GetWindowRect");
  }
  const std::vector<std::uint8_t> png = CaptureScreenAreaPng(area);
  FileStream file(file_name, fmCreate);
  file.WriteBuffer(png.data(), png.size());
}

}  // namespace vellum::exceptlog
