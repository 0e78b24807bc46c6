#include "exceptlog/capture/manager/notify_params_win.h"
#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/delivery/screenshot/win/screenshot_win.h"

namespace vellum::exceptlog {

namespace {

void TakeScreenshotStep(PipelineReport& report, PipelineContext&) {
  TScreenshotInputs inputs;
  if (report.record.Options != nullptr) {
    inputs.ActiveWindowOnly = report.record.Options->SendFlags().Contains(sfActiveWindowOnly);
  }
  if (report.params != nullptr) {
    inputs.FocusedWindow = report.params->FocusedWindow;
    inputs.Cursor = report.params->Cursor;
  }
  report.screenshot = CaptureScreen(inputs);
}

void SaveScreenshotStep(const PipelineReport& report, PipelineContext&) {
  if (report.record.Options != nullptr) {
    SaveScreenshot(report.screenshot.get(), ScreenshotFileName(*report.record.Options));
  }
}

}  // namespace

void AddScreenshotSteps(PipelineSteps& steps) {
  steps.take_screenshot = &TakeScreenshotStep;
  steps.save_screenshot = &SaveScreenshotStep;
  steps.release_screenshot = [](PipelineReport& report, PipelineContext&) { report.screenshot.reset(); };
}

}  // namespace vellum::exceptlog
