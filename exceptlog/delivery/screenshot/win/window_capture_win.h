// Copies a part of the screen into an 8-bit picture and encodes it as PNG.
// The exception pipeline's capture (focus frame, cursor) builds on this; the
// tests and the demo use it to save what they show.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vellum::exceptlog {

// The first `width` columns of a bitmap of rows rounded up to 4 bytes, read
// back as an 8-bit bottom-up DIB with the colour table GetDIBits gives, as a
// palette PNG. The bitmap must not be selected into a DC. Raises EOSError
// when the bitmap cannot be read, EPngError when it cannot be encoded.
std::vector<std::uint8_t> EncodeBitmapPng(HDC dc, HBITMAP bitmap, int width, int height);

// The screen rectangle `area` (screen coordinates) as a palette PNG.
std::vector<std::uint8_t> CaptureScreenAreaPng(const RECT& area);
// The window's rectangle on the screen (what is visible there) as a PNG file.
// Raises EPngError or EOSError.
void SaveWindowPng(HWND window, const std::string& file_name);

}  // namespace vellum::exceptlog
