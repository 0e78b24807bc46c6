// The stored form of the options, written by this build at block version 504
// and read back from every older block version still found in modules.
#include <algorithm>
#include <bitset>

#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/capture/options/options_codec.h"

namespace vellum::exceptlog {

namespace {

// Versions before which a text was not stored yet; such a text keeps the value
// it had before the load.
std::bitset<kCustomizedTextCount> TextsAbsentBefore(std::uint16_t version) {
  std::bitset<kCustomizedTextCount> absent;
  const auto mark = [&absent](std::initializer_list<int> indexes) {
    for (int i : indexes) absent.set(static_cast<std::size_t>(i));
  };
  if (version < 420) mark({17});
  if (version <= 420) mark({16});
  if (version < 450) {
    mark({8, 9, 10, 11, 18, 19, 20, 26, 41, 47, 48, 52});
    for (int i = 75; i < kCustomizedTextCount; ++i) absent.set(static_cast<std::size_t>(i));
  }
  if (version < 500) {
    mark({12, 13, 21, 27, 46, 47, 48, 54, 55, 56, 57, 58, 59, 60, 61, 68, 69, 70, 71, 72, 73, 74, 89, 94, 95});
  }
  return absent;
}

}  // namespace

void TRuzadaModuleOptions::SaveToStream(Stream& stream) const {
  OptionsWriter out(stream);
  const ModuleOptionValues& v = values_;
  out.Boolean(v.ReportingFlag);
  out.Boolean(v.FilterEnabled);
  out.Byte(v.LogFlags.ToBits());
  out.Boolean(v.LogInMessageBody);
  out.Boolean(v.SaveLog);
  out.Byte(v.DialogFirstTab);
  out.Boolean(v.FreezeCheck);

  out.Integer(v.FreezeSeconds);
  out.String(v.FreezeText);
  out.String(v.SmtpSender);
  out.String(v.SmtpServer);
  out.Word(v.SmtpPort);
  out.String(v.SmtpUser);
  out.String(v.SmtpPassword);

  out.Byte(v.TerminateAction);
  out.Boolean(v.TerminateButtonEnabled);
  out.Integer(v.LogMaxReports);
  out.Integer(v.TerminateButtonAfter);

  out.String(v.MailRecipients);
  out.String(v.MailSubject);
  out.Byte(v.MailMethod);
  stream.WriteBuffer(v.ReportFields.ToBytes().data(), v.ReportFields.ToBytes().size());
  out.String(v.LogFilePath);

  out.Byte(v.UploadMethod);
  out.String(v.UploadAddress);
  out.String(v.UploadUser);
  out.String(v.UploadPassword);
  out.Cardinal(v.UploadPort);
  out.String(v.ExtraFiles);

  out.Word(v.SendFlags.ToBits());
  out.Byte(v.DialogFlags.ToBits());
  out.Integer(v.DialogAutoCloseSeconds);
  out.String(v.SupportPage);
  out.String(v.HtmlTemplate);

  out.Byte(v.StackFlags.ToBits());
  out.Byte(v.BehaviorFlags.ToBits());
  out.Byte(v.BurstAction);
  out.Integer(v.BurstCount);
  out.Integer(v.BurstMinutes);

  // The two lists are stored as pairs; the shorter one is padded.
  const std::size_t pairs = std::max(v.FilterClassNames.size(), v.FilterMessages.size());
  out.Integer(static_cast<std::int32_t>(pairs));
  for (std::size_t i = 0; i < pairs; ++i) {
    out.String(i < v.FilterClassNames.size() ? v.FilterClassNames[i] : std::string());
    out.String(i < v.FilterMessages.size() ? v.FilterMessages[i] : std::string());
  }

  out.String(v.MailBody);
  for (const std::string& text : v.Texts) out.String(text);
}

void TRuzadaModuleOptions::LoadFromStream(Stream& stream, std::uint16_t version) {
  InUpdateBracket([&] {
    // A damaged block leaves the options as they were, not half replaced.
    ModuleOptionValues loaded = values_;
    LoadFields(stream, version, loaded);
    values_ = std::move(loaded);
  });
}

void TRuzadaModuleOptions::LoadFields(Stream& stream, std::uint16_t version, ModuleOptionValues& v) {
  OptionsReader in(stream);
  const bool current_layout = version >= 500;

  v.ReportingFlag = in.Boolean();
  v.FilterEnabled = in.Boolean();
  v.LogFlags = TLogFlags(in.Byte());
  if (!current_layout) {
    // Before 450 the byte said "hide the dialog".
    const bool show_dialog = in.Boolean() != (version < 450);
    v.DialogFlags = v.DialogFlags.With(dfShowDialog, show_dialog);
  }
  v.LogInMessageBody = in.Boolean();
  if (version >= 450 && !current_layout) {
    v.SendFlags = v.SendFlags.With(sfWholeLog, in.Boolean());
    v.SendFlags = v.SendFlags.With(sfScreenshot, in.Boolean());
    v.SendFlags = v.SendFlags.With(sfProgressDialog, in.Boolean());
  }
  if (version > 400) {
    v.SaveLog = in.Boolean();
    v.DialogFirstTab = in.Byte();
  }
  if (version > 402 && !current_layout) v.DialogFlags = v.DialogFlags.With(dfOwnStyle, in.Boolean());

  if (version >= 420) {
    v.FreezeCheck = in.Boolean();
    const std::int32_t freeze_time = in.Integer();
    // Blocks before 422 kept milliseconds.
    v.FreezeSeconds = version < 422 ? freeze_time / 1000 : freeze_time;
    v.FreezeText = in.String();
    if (version >= 450) v.SmtpSender = in.String();
    v.SmtpServer = in.String();
  }
  if (version >= 450) v.SmtpPort = in.Word();
  if (version > 420) {
    v.SmtpUser = in.String();
    v.SmtpPassword = in.String();
    v.TerminateAction = in.Byte();
  }

  v.TerminateButtonEnabled = in.Boolean();
  const std::int32_t log_max_reports = in.Integer();
  v.LogMaxReports = log_max_reports == 0 ? 1 : log_max_reports;
  v.TerminateButtonAfter = in.Integer();
  v.MailRecipients = in.String();
  v.MailSubject = in.String();
  v.MailMethod = in.Byte();
  // Before 450 the byte only said "send"; the method followed from whether
  // an SMTP server was configured.
  if (version < 450 && v.MailMethod != 0) v.MailMethod = v.SmtpServer.empty() ? 1 : 2;

  TReportFields::Bytes fields = v.ReportFields.ToBytes();
  stream.ReadBuffer(fields.data(), current_layout ? 5 : 4);
  v.ReportFields = current_layout ? TReportFields(fields) : RenumberOldReportFields(TReportFields(fields));
  if (version < 450) in.Skip(1);
  v.LogFilePath = in.String();

  if (current_layout) {
    v.UploadMethod = in.Byte();
    v.UploadAddress = in.String();
    v.UploadUser = in.String();
    v.UploadPassword = in.String();
    v.UploadPort = in.Cardinal();
    v.ExtraFiles = in.String();

    v.SendFlags = TSendFlags(in.Word());
    v.DialogFlags = TDialogFlags(in.Byte());
    v.DialogAutoCloseSeconds = in.Integer();
    v.SupportPage = in.String();
    v.HtmlTemplate = in.String();

    v.StackFlags = TStackFlags(in.Byte());
    v.BehaviorFlags = TBehaviorFlags(in.Byte());
    v.BurstAction = in.Byte();
    v.BurstCount = in.Integer();
    v.BurstMinutes = in.Integer();
  }

  const std::int32_t pairs = in.Integer();
  in.RequireRoomFor(pairs, 8);  // two length fields per pair at least
  v.FilterClassNames.clear();
  v.FilterMessages.clear();
  for (std::int32_t i = 0; i < pairs; ++i) {
    v.FilterClassNames.push_back(in.String());
    v.FilterMessages.push_back(in.String());
  }

  v.MailBody = in.String();
  const auto absent = TextsAbsentBefore(version);
  for (int i = 0; i < kCustomizedTextCount; ++i) {
    if (!absent.test(static_cast<std::size_t>(i))) v.Texts[i] = in.String();
  }
}

}  // namespace vellum::exceptlog
