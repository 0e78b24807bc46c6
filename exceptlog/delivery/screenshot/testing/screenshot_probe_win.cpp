// Shows a window with a focused edit control, takes the report's screenshot
// of it and leaves for the test to check from outside:
//   OUT/shot.png   the screenshot as saved for a report
//   OUT/dib.bin    the captured bitmap read back here with GetDIBits: the
//                  256 RGBQUADs, then the bottom-up rows of RowLength bytes
//   OUT/info.txt   key=value lines: width, height, row_length, the captured
//                  area and the edit control's rectangle on the screen
//   screenshot_probe OUT WIDTH HEIGHT [--desktop] [--no-edit]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "exceptlog/delivery/screenshot/win/screenshot_win.h"
#include "runtime/stream.h"

using namespace vellum::exceptlog;

namespace {

LRESULT CALLBACK PatternProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    // Bands of colours, so that rows and columns differ.
    static const COLORREF colors[] = {RGB(0, 0, 255),   RGB(0, 128, 0),     RGB(255, 255, 0), RGB(128, 0, 128),
                                      RGB(0, 255, 255), RGB(255, 255, 255), RGB(0, 0, 0)};
    for (int band = 0; band < 7; ++band) {
      RECT part = {client.right * band / 7, 0, client.right * (band + 1) / 7, client.bottom / 2};
      HBRUSH brush = CreateSolidBrush(colors[band]);
      FillRect(dc, &part, brush);
      DeleteObject(brush);
      part = {0, client.bottom / 2 + band * client.bottom / 14, client.right,
              client.bottom / 2 + (band + 1) * client.bottom / 14};
      brush = CreateSolidBrush(colors[6 - band]);
      FillRect(dc, &part, brush);
      DeleteObject(brush);
    }
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

void Pump(int milliseconds) {
  const DWORD until = GetTickCount() + milliseconds;
  while (GetTickCount() < until) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    Sleep(10);
  }
}

void WriteFile(const std::string& name, const void* data, std::size_t size) {
  vellum::FileStream file(name, vellum::fmCreate);
  file.WriteBuffer(data, size);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const std::string out = argv[1];
  const int width = std::atoi(argv[2]);
  const int height = std::atoi(argv[3]);
  bool desktop = false, edit = true;
  for (int i = 4; i < argc; ++i) {
    if (std::string(argv[i]) == "--desktop") desktop = true;
    if (std::string(argv[i]) == "--no-edit") edit = false;
  }

  WNDCLASSA window_class{};
  window_class.lpfnWndProc = &PatternProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.lpszClassName = "ScreenshotProbe";
  RegisterClassA(&window_class);
  HWND window = CreateWindowExA(WS_EX_TOPMOST, "ScreenshotProbe", "Screenshot probe", WS_POPUP | WS_VISIBLE, 40, 30,
                                width, height, nullptr, nullptr, window_class.hInstance, nullptr);
  HWND edit_control = nullptr;
  if (edit) {
    edit_control = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "focused", WS_CHILD | WS_VISIBLE | WS_BORDER, 60, 40, 200,
                                   28, window, nullptr, window_class.hInstance, nullptr);
  }
  SetForegroundWindow(window);
  if (edit_control != nullptr) SetFocus(edit_control);
  // Away from the edit control, inside the window when it is big enough.
  SetCursorPos(40 + width - 60, 30 + height - 60);
  Pump(700);

  TScreenshotInputs inputs;
  inputs.ActiveWindowOnly = !desktop;
  inputs.FocusedWindow = GetFocus();
  // A cursor whose only visible pixels are a black 3 x 3 square at its hot
  // spot (10, 20): where the square lands shows the hot spot was applied.
  std::uint8_t and_mask[32 * 4], xor_mask[32 * 4] = {};
  std::memset(and_mask, 0xFF, sizeof and_mask);
  for (int y = 20; y < 23; ++y) and_mask[y * 4 + 1] &= static_cast<std::uint8_t>(~0x38);  // columns 10..12
  HCURSOR cursor = CreateCursor(window_class.hInstance, 10, 20, 32, 32, and_mask, xor_mask);
  inputs.Cursor = cursor;
  std::shared_ptr<ScreenCapture> capture = CaptureScreen(inputs);
  SaveScreenshot(capture.get(), out + "\\shot.png");

  const TScreenCaptureView view = ViewOf(capture.get());
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
  } info{};
  info.header.biSize = sizeof info.header;
  info.header.biWidth = view.RowLength;
  info.header.biHeight = view.Height;
  info.header.biPlanes = 1;
  info.header.biBitCount = 8;
  info.header.biCompression = BI_RGB;
  std::vector<std::uint8_t> dib(1024 + static_cast<std::size_t>(view.RowLength) * view.Height);
  HBITMAP placeholder = CreateBitmap(1, 1, 1, 1, nullptr);
  SelectObject(view.MemoryDC, placeholder);
  const int rows = GetDIBits(view.MemoryDC, view.Bitmap, 0, view.Height, dib.data() + 1024,
                             reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  SelectObject(view.MemoryDC, view.Bitmap);
  DeleteObject(placeholder);
  std::memcpy(dib.data(), info.colors, 1024);
  WriteFile(out + "\\dib.bin", dib.data(), dib.size());

  POINT cursor_position{};
  GetCursorPos(&cursor_position);
  RECT window_rect{}, edit_rect{};
  GetWindowRect(window, &window_rect);
  if (edit_control != nullptr) GetWindowRect(edit_control, &edit_rect);
  char text[1024];
  const int length = std::snprintf(
      text, sizeof text,
      "width=%d\nheight=%d\nrow_length=%d\nrows_read=%d\npalette_display=%d\narea=%ld,%ld,%ld,%ld\n"
      "window=%ld,%ld,%ld,%ld\nedit=%ld,%ld,%ld,%ld\ncursor=%ld,%ld\nforeground=%d\nfile_name=%s\n",
      view.Width, view.Height, view.RowLength, rows, view.PaletteDisplay ? 1 : 0, view.Area.left, view.Area.top,
      view.Area.right, view.Area.bottom, window_rect.left, window_rect.top, window_rect.right, window_rect.bottom,
      edit_rect.left, edit_rect.top, edit_rect.right, edit_rect.bottom, cursor_position.x, cursor_position.y,
      GetForegroundWindow() == window ? 1 : 0, ScreenshotFileName().c_str());
  WriteFile(out + "\\info.txt", text, static_cast<std::size_t>(length));

  // The last owner letting go frees the bitmap and the memory DC.
  capture.reset();
  DestroyCursor(cursor);
  const bool released = GetObjectType(view.Bitmap) == 0 && GetObjectType(view.MemoryDC) == 0;
  DestroyWindow(window);
  return released ? 0 : 1;
}
