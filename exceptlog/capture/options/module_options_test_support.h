// Shared by the options tests: options that count their announced changes,
// and a way to move every option away from its default.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

#include "exceptlog/capture/options/module_identity.h"
#include "exceptlog/capture/options/module_option_table.h"
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

template <typename T>
inline constexpr bool kKnownOptionType = false;

// A value other than `value` for an option of any type, made from its name.
// Lists get two entries, so that the paired filter lists keep one length.
template <typename T>
T OtherValue(const T& value, std::string_view name) {
  if constexpr (std::is_same_v<T, std::string>) {
    return std::string(name) + " changed";
  } else if constexpr (std::is_same_v<T, bool>) {
    return !value;
  } else if constexpr (std::is_integral_v<T>) {
    return static_cast<T>(value + 3);
  } else if constexpr (kIsFlagSet<T>) {
    return T(static_cast<decltype(value.ToBits())>(value.ToBits() ^ 0x5A));
  } else if constexpr (std::is_same_v<T, TReportFields>) {
    TReportFields::Bytes bytes = value.ToBytes();
    for (std::uint8_t& byte : bytes) byte ^= 0xA5;
    return TReportFields(bytes);
  } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
    return {std::string(name) + " 1", std::string(name) + " 2"};
  } else if constexpr (std::is_same_v<T, TCustomizedTexts>) {
    TCustomizedTexts texts;
    for (std::size_t i = 0; i < texts.size(); ++i) texts[i] = std::string(name) + " " + std::to_string(i);
    return texts;
  } else {
    static_assert(kKnownOptionType<T>, "say how an option of this type is changed");
  }
}

// Every option of the table gets another value through its setter; unlike
// ChangeEveryOption, an option added to the table is changed too.
inline void ChangeEveryOptionOfTheTable(TRuzadaModuleOptions& options) {
  ForEachModuleOption(
      [&options](const auto& option) { (options.*option.Set)(OtherValue((options.*option.Get)(), option.Name)); });
}

}  // namespace vellum::exceptlog::testing
