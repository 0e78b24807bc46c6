// The options of one module: what the exception pipeline logs, shows, sends
// and watches for exceptions raised in that module. Every module carrying the
// subsystem has one object, filled from its stored block; the process-wide
// current options are a TRuzadaModuleOptionsEx.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exceptlog/capture/options/customized_texts.h"
#include "exceptlog/capture/options/option_flags.h"
#include "exceptlog/capture/options/report_fields.h"
#include "runtime/stream.h"

namespace vellum::exceptlog {

// The block version this build writes.
inline constexpr std::uint16_t kOptionsBlockVersion = 504;

extern const char* const kDefaultSmtpSender;
extern const char* const kDefaultFreezeText;
extern const char* const kDefaultHtmlTemplate;

// Every option that is stored, copied and published, with its default. The
// module file name and `Enabled` belong to one object only and live outside.
struct ModuleOptionValues {
  std::string SmtpSender = kDefaultSmtpSender;
  std::string SmtpServer;
  std::string SmtpUser;
  std::string SmtpPassword;
  std::uint16_t SmtpPort = 25;
  std::uint8_t TerminateAction = 1;  // 0 terminate, 1 restart then terminate
  bool FreezeCheck = false;
  std::int32_t FreezeSeconds = 60;
  std::string FreezeText = kDefaultFreezeText;
  TReportFields ReportFields = TReportFields::All();
  std::vector<std::string> FilterClassNames;
  std::vector<std::string> FilterMessages;
  TCustomizedTexts Texts = DefaultCustomizedTexts();
  bool ReportingFlag = true;
  bool FilterEnabled = true;
  bool LogInMessageBody = false;
  bool TerminateButtonEnabled = true;
  bool SaveLog = true;
  TLogFlags LogFlags{lfModulesSection, lfCpuSection};
  TSendFlags SendFlags{sfProgressDialog, sfScreenshot, sfLastHtmlPage};
  std::uint8_t DialogFirstTab = 0;
  std::int32_t LogMaxReports = 32;
  std::int32_t TerminateButtonAfter = 3;
  std::string LogFilePath;
  std::string MailRecipients;
  std::string MailSubject;
  std::string MailBody;
  std::uint8_t MailMethod = 0;    // 0 none, 1..3 the three mail methods
  std::uint8_t UploadMethod = 0;  // 0 none, 1 HTTP, 2 HTTPS, 3 FTP
  std::string ExtraFiles;
  TDialogFlags DialogFlags{dfShowDialog, dfSendChecked, dfScreenshotChecked, dfCopyOption, dfDetailsButton};
  std::int32_t DialogAutoCloseSeconds = 0;
  std::string SupportPage;
  std::string HtmlTemplate = kDefaultHtmlTemplate;
  std::uint8_t BurstAction = 1;
  std::int32_t BurstCount = 10;
  std::int32_t BurstMinutes = 1;
  TStackFlags StackFlags{skLibraryFrames, skPackageFrames, skRuntimeThreads, skOtherThreads};
  TBehaviorFlags BehaviorFlags{bfUseMainModuleInfo, bfClipboardCopyOnSendFailure};
  std::string UploadAddress;
  std::uint32_t UploadPort = 0;
  std::string UploadPassword;
  std::string UploadUser;

  friend bool operator==(const ModuleOptionValues&, const ModuleOptionValues&) = default;
};

// Getter `Name()` and setter `SetName(value)`; every setter announces a change.
#define VELLUM_MODULE_OPTION(Type, Name) \
  const Type& Name() const {             \
    return values_.Name;                 \
  }                                      \
  void Set##Name(Type value) {           \
    values_.Name = std::move(value);     \
    Changed();                           \
  }

class TRuzadaModuleOptions {
 public:
  // `publish`: changes are handed to the change hook (see Changed).
  TRuzadaModuleOptions(std::string module_file_name, bool publish);
  virtual ~TRuzadaModuleOptions() = default;
  TRuzadaModuleOptions(const TRuzadaModuleOptions&) = delete;
  TRuzadaModuleOptions& operator=(const TRuzadaModuleOptions&) = delete;

  virtual void SetDefaults();
  // Copies every option but the module file name and `Enabled`. A null source
  // raises EConvertError; assigning an object to itself does nothing.
  virtual void Assign(const TRuzadaModuleOptions* source);

  virtual void SaveToStream(Stream& stream) const;
  // Reads a block written by block version `version` (older versions carry
  // fewer fields; absent ones keep their values). A damaged block raises
  // EReadError and leaves every option as it was.
  virtual void LoadFromStream(Stream& stream, std::uint16_t version = kOptionsBlockVersion);

  void BeginUpdate() { ++update_count_; }
  void EndUpdate() { --update_count_; }
  // Announces a change unless inside an update bracket.
  void Changed();

  // BeginUpdate, `body`, EndUpdate, Changed, the last two also when `body` raises.
  template <typename Body>
  void InUpdateBracket(Body&& body) {
    BeginUpdate();
    try {
      body();
    } catch (...) {
      EndUpdate();
      Changed();
      throw;
    }
    EndUpdate();
    Changed();
  }

  // The log file for `module_file_name` (default: this object's module).
  std::string LogFileName() const { return LogFileName(module_file_name_); }
  std::string LogFileName(const std::string& module_file_name) const;

  const std::string& GetText(int index) const;
  void SetText(int index, std::string text);
  const TCustomizedTexts& Texts() const { return values_.Texts; }
  void SetTexts(TCustomizedTexts texts);

  const ModuleOptionValues& Values() const { return values_; }
  bool PublishesChanges() const { return publish_; }
  std::int32_t UpdateCount() const { return update_count_; }

  const std::string& ModuleFileName() const { return module_file_name_; }
  void SetModuleFileName(std::string name);
  bool Enabled() const { return enabled_; }
  virtual void SetEnabled(bool value);
  bool FreezeCheck() const { return values_.FreezeCheck; }
  virtual void SetFreezeCheck(bool value);
  std::int32_t LogMaxReports() const { return values_.LogMaxReports; }
  void SetLogMaxReports(std::int32_t value);  // 0 is stored as 1

  VELLUM_MODULE_OPTION(std::string, SmtpSender)
  VELLUM_MODULE_OPTION(std::string, SmtpServer)
  VELLUM_MODULE_OPTION(std::string, SmtpUser)
  VELLUM_MODULE_OPTION(std::string, SmtpPassword)
  VELLUM_MODULE_OPTION(std::uint16_t, SmtpPort)
  VELLUM_MODULE_OPTION(std::uint8_t, TerminateAction)
  VELLUM_MODULE_OPTION(std::int32_t, FreezeSeconds)
  VELLUM_MODULE_OPTION(std::string, FreezeText)
  VELLUM_MODULE_OPTION(TReportFields, ReportFields)
  VELLUM_MODULE_OPTION(std::vector<std::string>, FilterClassNames)
  VELLUM_MODULE_OPTION(std::vector<std::string>, FilterMessages)
  VELLUM_MODULE_OPTION(bool, ReportingFlag)
  VELLUM_MODULE_OPTION(bool, FilterEnabled)
  VELLUM_MODULE_OPTION(bool, LogInMessageBody)
  VELLUM_MODULE_OPTION(bool, TerminateButtonEnabled)
  VELLUM_MODULE_OPTION(bool, SaveLog)
  VELLUM_MODULE_OPTION(TLogFlags, LogFlags)
  VELLUM_MODULE_OPTION(TSendFlags, SendFlags)
  VELLUM_MODULE_OPTION(std::uint8_t, DialogFirstTab)
  VELLUM_MODULE_OPTION(std::int32_t, TerminateButtonAfter)
  VELLUM_MODULE_OPTION(std::string, LogFilePath)
  VELLUM_MODULE_OPTION(std::string, MailRecipients)
  VELLUM_MODULE_OPTION(std::string, MailSubject)
  VELLUM_MODULE_OPTION(std::string, MailBody)
  VELLUM_MODULE_OPTION(std::uint8_t, MailMethod)
  VELLUM_MODULE_OPTION(std::uint8_t, UploadMethod)
  VELLUM_MODULE_OPTION(std::string, ExtraFiles)
  VELLUM_MODULE_OPTION(TDialogFlags, DialogFlags)
  VELLUM_MODULE_OPTION(std::int32_t, DialogAutoCloseSeconds)
  VELLUM_MODULE_OPTION(std::string, SupportPage)
  VELLUM_MODULE_OPTION(std::string, HtmlTemplate)
  VELLUM_MODULE_OPTION(std::uint8_t, BurstAction)
  VELLUM_MODULE_OPTION(std::int32_t, BurstCount)
  VELLUM_MODULE_OPTION(std::int32_t, BurstMinutes)
  VELLUM_MODULE_OPTION(TStackFlags, StackFlags)
  VELLUM_MODULE_OPTION(TBehaviorFlags, BehaviorFlags)
  VELLUM_MODULE_OPTION(std::string, UploadAddress)
  VELLUM_MODULE_OPTION(std::uint32_t, UploadPort)
  VELLUM_MODULE_OPTION(std::string, UploadPassword)
  VELLUM_MODULE_OPTION(std::string, UploadUser)

 protected:
  // Runs for every announced change of an object that publishes and belongs
  // to the module holding this code. Does nothing here.
  virtual void ChangeHook() {}

 private:
  static void LoadFields(Stream& stream, std::uint16_t version, ModuleOptionValues& values);

  bool publish_ = false;
  std::int32_t update_count_ = 0;
  std::string module_file_name_;
  bool enabled_ = true;
  ModuleOptionValues values_;
};

#undef VELLUM_MODULE_OPTION

}  // namespace vellum::exceptlog
