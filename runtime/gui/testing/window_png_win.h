// Test support: what a window shows, read back with GDI into a 24-bit DIB,
// for checking pixels and for pictures in the build's artefacts, written as
// PNG files (RGB, 8 bits, zlib at level 9; link zlib).
//
// The product's encoder (exceptlog/delivery/screenshot) is not used: it
// lives in a layer above the exception dialog's tests, which take pictures
// too, and it writes 8-bit palette pictures, so a capture's colours would
// have to be reduced before the file could show what the pixel checks saw.
#pragma once

#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/win/gdi_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::gui::testing {

struct Capture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // top-down rows, 3 bytes a pixel

  COLORREF At(int x, int y) const {
    const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
    return RGB(rgb[at], rgb[at + 1], rgb[at + 2]);
  }
  int Count(COLORREF color, const RECT& area) const {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y) {
      for (int x = area.left; x < area.right; ++x) count += At(x, y) == color ? 1 : 0;
    }
    return count;
  }
};

// `width` x `height` pixels of `source` from (`left`, `top`), as they are now.
inline Capture CaptureFromDC(HDC source, int left, int top, int width, int height) {
  Capture capture;
  capture.width = width;
  capture.height = height;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  const win::MemoryDC memory_dc(source);
  std::uint8_t* bits = nullptr;
  const win::UniqueBitmap bitmap(
      CreateDIBSection(source, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0));
  if (!bitmap || bits == nullptr) return Capture{};
  const win::SelectedObject selected(memory_dc.get(), bitmap.get());
  BitBlt(memory_dc.get(), 0, 0, width, height, source, left, top, SRCCOPY);
  GdiFlush();
  const int stride = (width * 3 + 3) & ~3;  // DIB rows are DWORD-aligned, BGR
  capture.rgb.resize(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* pixel = bits + y * stride + x * 3;
      std::uint8_t* out = &capture.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      out[0] = pixel[2];
      out[1] = pixel[1];
      out[2] = pixel[0];
    }
  }
  return capture;
}

// The client area of a window of this process, through its own DC: what it
// painted, whatever covers it on the screen.
inline Capture CaptureClient(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  const win::WindowDC window_dc(window);
  return CaptureFromDC(window_dc.get(), 0, 0, client.right, client.bottom);
}

// A window of this process, caption and frame included, through its window
// DC: what it painted, whatever covers it on the screen.
inline Capture CaptureWindow(HWND window) {
  RECT area{};
  GetWindowRect(window, &area);
  struct WholeWindowDC {
    HWND window;
    HDC dc;
    ~WholeWindowDC() { ReleaseDC(window, dc); }
  };
  const WholeWindowDC window_dc{window, GetWindowDC(window)};
  return CaptureFromDC(window_dc.dc, 0, 0, area.right - area.left, area.bottom - area.top);
}

// The screen's pixels in `area` (screen coordinates) as they are now: the
// way to see a window of another process.
inline Capture CaptureScreen(const RECT& area) {
  const win::WindowDC screen_dc(nullptr);
  return CaptureFromDC(screen_dc.get(), area.left, area.top, area.right - area.left, area.bottom - area.top);
}

namespace png_detail {

inline void PutBigEndian(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

inline void PutChunk(std::string& out, const char* type, const std::string& data) {
  PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
  const std::string typed = std::string(type, 4) + data;
  out += typed;
  PutBigEndian(out, static_cast<std::uint32_t>(
                        crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()))));
}

}  // namespace png_detail

// Writes the capture as a PNG file; answers whether it was written whole.
inline bool WritePng(const Capture& capture, const std::string& path) {
  if (capture.width <= 0 || capture.height <= 0) return false;
  std::string raw;
  for (int y = 0; y < capture.height; ++y) {
    raw += '\0';  // filter type None
    raw.append(reinterpret_cast<const char*>(&capture.rgb[static_cast<std::size_t>(y) * capture.width * 3]),
               static_cast<std::size_t>(capture.width) * 3);
  }
  uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(packed_size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packed_size, reinterpret_cast<const Bytef*>(raw.data()),
                static_cast<uLong>(raw.size()), 9) != Z_OK) {
    return false;
  }
  packed.resize(packed_size);

  std::string header;
  png_detail::PutBigEndian(header, static_cast<std::uint32_t>(capture.width));
  png_detail::PutBigEndian(header, static_cast<std::uint32_t>(capture.height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter set, no interlace
  std::string file("\x89PNG\r\n\x1a\n", 8);
  png_detail::PutChunk(file, "IHDR", header);
  png_detail::PutChunk(file, "IDAT", packed);
  png_detail::PutChunk(file, "IEND", "");
  std::ofstream out(path, std::ios::binary);
  out.write(file.data(), static_cast<std::streamsize>(file.size()));
  return static_cast<bool>(out);
}

}  // namespace vellum::gui::testing
