// Shared by the options tests: options that count their announced changes,
// and a way to move every option away from its default.
#pragma once

#include <string>

#include "exceptlog/capture/options/module_identity.h"
#include "exceptlog/capture/options/module_options.h"

namespace vellum::exceptlog::testing {

// Belongs to the module holding this code, so its changes are announced.
class CountingOptions : public TRuzadaModuleOptions {
 public:
  explicit CountingOptions(bool publish = true, std::string module = ThisModuleFileName())
      : TRuzadaModuleOptions(std::move(module), publish) {}
  int changes = 0;

 protected:
  void ChangeHook() override { ++changes; }
};

// Every stored option gets a value other than its default.
inline void ChangeEveryOption(TRuzadaModuleOptions& o) {
  o.SetSmtpSender("from@example.org");
  o.SetSmtpServer("mail.example.org");
  o.SetSmtpUser("user");
  o.SetSmtpPassword("p\xE4ss");
  o.SetSmtpPort(587);
  o.SetTerminateAction(0);
  o.SetFreezeCheck(true);
  o.SetFreezeSeconds(17);
  o.SetFreezeText("Hung.");
  o.SetReportFields(TReportFields(TReportFields::Bytes{0x01, 0x80, 0x00, 0x5A, 0xA5}));
  o.SetFilterClassNames({"EAbort", "EConvertError", "ERangeError"});
  o.SetFilterMessages({"Stopped."});
  o.SetReportingFlag(false);
  o.SetFilterEnabled(false);
  o.SetLogInMessageBody(true);
  o.SetTerminateButtonEnabled(false);
  o.SetSaveLog(false);
  o.SetLogFlags(TLogFlags(0x0F));
  o.SetSendFlags(TSendFlags(0x03AE));
  o.SetDialogFirstTab(2);
  o.SetLogMaxReports(5);
  o.SetTerminateButtonAfter(-1);
  o.SetLogFilePath("C:\\Logs");
  o.SetMailRecipients("a@example.org;b@example.org");
  o.SetMailSubject("Report");
  o.SetMailBody("Line 1\r\nLine 2");
  o.SetMailMethod(3);
  o.SetUploadMethod(2);
  o.SetExtraFiles("a.txt;b.txt");
  o.SetDialogFlags(TDialogFlags(0xE2));
  o.SetDialogAutoCloseSeconds(30);
  o.SetSupportPage("https://example.org/support");
  o.SetHtmlTemplate("<p><%HTML_TAG%></p>");
  o.SetBurstAction(0);
  o.SetBurstCount(4);
  o.SetBurstMinutes(9);
  o.SetStackFlags(TStackFlags(0x10));
  o.SetBehaviorFlags(TBehaviorFlags(0x4F));
  o.SetUploadAddress("ftp.example.org/in");
  o.SetUploadPort(2121);
  o.SetUploadPassword("secret");
  o.SetUploadUser("anonymous");
  for (int i = 0; i < kCustomizedTextCount; ++i) o.SetText(i, "Text " + std::to_string(i));
}

}  // namespace vellum::exceptlog::testing
