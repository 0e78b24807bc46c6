#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "exceptlog/capture/manager/notify_params_win.h"
#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/delivery/screenshot/win/screenshot_win.h"
#include "runtime/stream.h"

namespace vellum::exceptlog {
namespace {

std::string ReadAll(const std::string& name) {
  MemoryStream stream;
  stream.LoadFromFile(name);
  return stream.ToString();
}

class ScreenshotStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveFile(ScreenshotFileName());
    window_ = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | WS_VISIBLE, 20, 20, 333, 111, nullptr, nullptr,
                              nullptr, nullptr);
    edit_ = CreateWindowExA(0, "EDIT", "x", WS_CHILD | WS_VISIBLE, 10, 10, 80, 20, window_, nullptr, nullptr, nullptr);
    SetForegroundWindow(window_);
    SetFocus(edit_);
    report_.record.Options = &options_;
    params_.FocusedWindow = edit_;
    report_.params = &params_;
    AddScreenshotSteps(steps_);
  }
  void TearDown() override {
    DestroyWindow(window_);
    RemoveFile(ScreenshotFileName());
  }

  HWND window_ = nullptr;
  HWND edit_ = nullptr;
  TRuzadaModuleOptions options_{"C:\\app\\sample.exe", false};
  TExceptNotifyParams params_;
  PipelineReport report_;
  PipelineSteps steps_;
  StandaloneContext context_;
};

TEST_F(ScreenshotStepsTest, TakeSaveReleaseTheForegroundWindow) {
  options_.SetSendFlags(options_.SendFlags().With(sfScreenshot).With(sfActiveWindowOnly));
  steps_.take_screenshot(report_, context_);
  const TScreenCaptureView view = ViewOf(report_.screenshot.get());
  EXPECT_EQ(view.Width, 333);
  EXPECT_EQ(view.Height, 111);
  EXPECT_EQ(view.RowLength, 336);

  steps_.save_screenshot(report_, context_);
  const std::string png = ReadAll(ScreenshotFileName());
  ASSERT_GT(png.size(), 8u + 25 + 780);
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1A\n");
  // IHDR's width is the capture's, not the row length.
  EXPECT_EQ(png.substr(16, 4), std::string("\0\0\x01\x4D", 4));

  steps_.release_screenshot(report_, context_);
  EXPECT_EQ(report_.screenshot, nullptr) << "the report lets go of its capture";
}

TEST_F(ScreenshotStepsTest, NoFileWithoutTheScreenshotOption) {
  options_.SetSendFlags(options_.SendFlags().Without(sfScreenshot));
  EXPECT_EQ(ScreenshotFileName(options_), "");
  steps_.take_screenshot(report_, context_);
  steps_.save_screenshot(report_, context_);
  EXPECT_FALSE(FileExists(ScreenshotFileName()));
  // The desktop's monitor, not the foreground window.
  EXPECT_GT(ViewOf(report_.screenshot.get()).Width, 333);
}

TEST_F(ScreenshotStepsTest, SavingWithoutCaptureOrIntoNowhereLeavesNoFile) {
  SaveScreenshot(nullptr, ScreenshotFileName());
  EXPECT_FALSE(FileExists(ScreenshotFileName()));
  const auto capture = CaptureScreen({});
  const std::string nowhere = "C:\\no such folder\\Screenshot.png";
  EXPECT_NO_THROW(SaveScreenshot(capture.get(), nowhere));
  EXPECT_FALSE(FileExists(nowhere));
  EXPECT_NO_THROW(SaveScreenshot(capture.get(), ""));
}

}  // namespace
}  // namespace vellum::exceptlog
