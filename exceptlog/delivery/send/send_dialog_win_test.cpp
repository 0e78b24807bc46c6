// The progress dialog as the delivering thread drives it: a real dialog in
// its own thread, read back through its controls.
#include "exceptlog/delivery/send/send_dialog_win.h"

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

namespace vellum::exceptlog {
namespace {

std::string ControlText(int id) {
  char text[256] = {};
  GetDlgItemTextA(reinterpret_cast<HWND>(SendDialogWindow()), id, text, sizeof text);
  return text;
}

int ProgressPosition() {
  return static_cast<int>(
      SendDlgItemMessageA(reinterpret_cast<HWND>(SendDialogWindow()), kSendProgressControl, PBM_GETPOS, 0, 0));
}

class SendDialogTest : public ::testing::Test {
 protected:
  void TearDown() override { CloseSendDialog(); }
  TCustomizedTexts texts_ = DefaultCustomizedTexts();
};

TEST_F(SendDialogTest, StatusAndProgressReachTheDialogUntilItCloses) {
  ShowSendDialog(true, texts_);
  ASSERT_TRUE(SendDialogShown());
  const auto window = reinterpret_cast<HWND>(SendDialogWindow());
  EXPECT_TRUE(IsWindowVisible(window));
  char caption[64] = {};
  GetWindowTextA(window, caption, sizeof caption);
  EXPECT_STREQ(caption, "Send.");
  EXPECT_NE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0) << "the dialog stays in front of the program";
  EXPECT_NE(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId()) << "the dialog has a thread of its own";

  SetSendCount(2, 3);
  SetSendStatus("Resolving DNS...");
  EXPECT_EQ(ControlText(kSendStatusControl), "Message 2/3: Resolving DNS...");
  SetSendStatusPlain("plain");
  EXPECT_EQ(ControlText(kSendStatusControl), "plain");
  SetSendProgress(40);
  EXPECT_EQ(ProgressPosition(), 40);

  UploadProgress(0, 200, 0);
  EXPECT_EQ(ControlText(kSendStatusControl), "Connecting with server...");
  EXPECT_EQ(ProgressPosition(), 0);
  UploadProgress(1, 200, 0);
  EXPECT_EQ(ControlText(kSendStatusControl), "Connected with server.");
  UploadProgress(2, 200, 50);
  EXPECT_EQ(ControlText(kSendStatusControl), "Sending message...");
  EXPECT_EQ(ProgressPosition(), 25);

  SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(window)) << "only the delivery ends the dialog";
  CloseSendDialog();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(SendDialogShown());
  CloseSendDialog();  // a second close finds nothing to close
}

TEST_F(SendDialogTest, EachAttemptGetsANewDialogAndNoneWhenNotWanted) {
  ShowSendDialog(true, texts_);
  const auto first = reinterpret_cast<HWND>(SendDialogWindow());
  ASSERT_NE(first, nullptr);
  ShowSendDialog(true, texts_);  // a retry: the old dialog is gone first
  EXPECT_FALSE(IsWindow(first));
  EXPECT_TRUE(SendDialogShown());
  CloseSendDialog();

  ShowSendDialog(false, texts_);
  EXPECT_FALSE(SendDialogShown());
  SetSendStatus("nowhere");  // no dialog: nothing to tell, nothing fails
  SetSendProgress(10);
  UploadProgress(2, 0, 0);
}

TEST_F(SendDialogTest, CustomizedTextsNameTheDialog) {
  texts_[75] = "Sending the report";
  texts_[76] = "Mail";
  ShowSendDialog(true, texts_);
  char caption[64] = {};
  GetWindowTextA(reinterpret_cast<HWND>(SendDialogWindow()), caption, sizeof caption);
  EXPECT_STREQ(caption, "Sending the report");
  SetSendCount(1, 1);
  SetSendStatus("x");
  EXPECT_EQ(ControlText(kSendStatusControl), "Mail 1/1: x");
}

}  // namespace
}  // namespace vellum::exceptlog
