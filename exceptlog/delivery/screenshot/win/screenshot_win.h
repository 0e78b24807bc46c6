// The report's screenshot: taken while the report is gathered, before any
// dialog covers the screen, with the control that had the focus framed in
// red and the mouse cursor drawn in; saved as "Screenshot.png" in the
// temporary folder only when the report is sent; released in every case.
// The capture travels in the report from the take to the release.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "exceptlog/capture/manager/pipeline_steps.h"

namespace vellum::exceptlog {

class TRuzadaModuleOptions;

struct TScreenshotInputs {
  bool ActiveWindowOnly = false;  // sfActiveWindowOnly: the foreground window, not its monitor
  HWND FocusedWindow = nullptr;   // framed in red while it still has a rectangle
  HCURSOR Cursor = nullptr;       // drawn at the cursor position; none: not drawn
};

// The screen (or the foreground window) as it is now, held as a bitmap with
// its DCs until the last owner lets go. Capture calls are not checked: a
// failed copy gives a black or partial picture.
std::shared_ptr<ScreenCapture> CaptureScreen(const TScreenshotInputs& inputs);
// Encodes the capture as PNG and writes it to `file_name`; nothing for an
// empty name or without a capture. A failed write leaves no file behind (the
// delivery drops missing files) and raises nothing.
void SaveScreenshot(const ScreenCapture* capture, const std::string& file_name);

// The temporary folder + "Screenshot.png".
std::string ScreenshotFileName();
// The same when the options ask for screenshots (sfScreenshot), else empty.
std::string ScreenshotFileName(const TRuzadaModuleOptions& options);

// The capture as it is held, for the encoder and for tests that read the
// bitmap back themselves. Empty (all zero) without a capture.
struct TScreenCaptureView {
  HDC MemoryDC = nullptr;
  HBITMAP Bitmap = nullptr;
  RECT Area{};        // screen rectangle captured
  int Width = 0;      // at least 1
  int Height = 0;     // at least 1
  int RowLength = 0;  // Width rounded up to a multiple of 4
  bool PaletteDisplay = false;
};
TScreenCaptureView ViewOf(const ScreenCapture* capture);

// The pipeline's take, save and release steps.
void AddScreenshotSteps(PipelineSteps& steps);

}  // namespace vellum::exceptlog
