#include "exceptlog/delivery/send/deliver_report_win.h"

#include <windows.h>

#include <algorithm>
#include <fstream>

#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/delivery/archive/tgz_writer.h"
#include "exceptlog/delivery/delivery_error.h"
#include "exceptlog/delivery/mail/mapi_mail_win.h"
#include "exceptlog/delivery/mail/shell_mail_win.h"
#include "exceptlog/delivery/mail/smtp_mail_win.h"
#include "exceptlog/delivery/send/clipboard_text_win.h"
#include "exceptlog/delivery/send/send_dialog_win.h"
#include "exceptlog/delivery/send/send_rules.h"
#include "exceptlog/delivery/upload/upload_address.h"
#include "exceptlog/delivery/upload/web_upload_win.h"
#include "exceptlog/report/builder/report_values.h"
#include "exceptlog/report/logfile/log_xml_copy.h"
#include "runtime/stream.h"
#include "runtime/strings/string_list.h"
#include "runtime/win/file_time_value_win.h"

namespace vellum::exceptlog {
namespace {

constexpr UINT kResultBoxModifiers = MB_TASKMODAL | MB_TOPMOST | MB_SERVICE_NOTIFICATION;

std::string TemporaryFolder() {
  char folder[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof folder, folder);
  return length > 0 && length < sizeof folder ? std::string(folder, length) : std::string(".\\");
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool IsFile(const std::string& name) {
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void WriteTextFile(const std::string& name, const std::string& text) {
  FileStream file(name, fmCreate);
  file.WriteBuffer(text.data(), text.size());
}

// A console program started by a web server: its last page stays for the
// server's error handling.
bool RunsAsCgiProgram(bool console) {
  return console && GetEnvironmentVariableA("REQUEST_METHOD", nullptr, 0) > 0;
}

// Failures go to the report's context; the send dialog, while it shows,
// asks for network failures to be shown too.
DeliveryWarningSink WarningsOf(const TReportDelivery& delivery) {
  return [context = delivery.context](TDeveruVuzErrorCode code, const std::string& message) {
    context->Warn(code, message, SendDialogShowsErrors());
  };
}

TCustomizedTexts TextsOf(const TRuzadaModuleOptions& options) {
  TCustomizedTexts texts;
  for (std::size_t i = 0; i < texts.size(); ++i) texts[i] = options.GetText(static_cast<int>(i));
  return texts;
}

std::optional<DateTime> NameStamp(const TReportDelivery& delivery) {
  if (!delivery.options->SendFlags().Contains(sfTimeStampNames)) return std::nullopt;
  return delivery.time;
}

// The temporary files of one delivery, removed however it ends.
class TemporaryFiles {
 public:
  TemporaryFiles() = default;
  ~TemporaryFiles() {
    for (const std::string& name : names_) {
      if (!name.empty()) DeleteFileA(name.c_str());
    }
  }
  TemporaryFiles(const TemporaryFiles&) = delete;
  TemporaryFiles& operator=(const TemporaryFiles&) = delete;
  void Add(const std::string& name) { names_.push_back(name); }

 private:
  std::vector<std::string> names_;
};

void WriteArchive(const std::string& archive, const std::vector<std::string>& files,
                  const std::vector<std::string>& display_names, const std::string& extra_name,
                  const std::string& extra_text) {
  TTGZWriter writer(archive);
  for (std::size_t i = 0; i < files.size(); ++i) writer.AddFile(files[i], display_names[i]);
  if (!extra_name.empty()) {
    MemoryStream text(extra_text);
    writer.AddStream(text, extra_name, std::chrono::system_clock::now());
  }
  writer.Finish();
}

std::vector<KeptArchive> ArchivesIn(const std::string& folder) {
  std::vector<KeptArchive> archives;
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((folder + "*.tgz").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return archives;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    archives.push_back({found.cFileName, static_cast<std::int64_t>(win::FileTimeValue(found.ftLastWriteTime))});
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return archives;
}

// A failed delivery leaves its report in the log folder, under a name no
// earlier kept report has, and the folder keeps the newest ten.
void KeepUnsentReport(const TReportDelivery& delivery, const std::string& temporary_archive,
                      const std::vector<std::string>& files) {
  const TRuzadaModuleOptions& options = *delivery.options;
  std::string folder = FolderOf(options.LogFileName());
  if (folder.empty()) folder = FolderOf(options.ModuleFileName());
  std::vector<std::string> existing;
  for (const KeptArchive& archive : ArchivesIn(folder)) existing.push_back(archive.name);
  const std::string kept = folder + FreeArchiveName(AttachmentDisplayName(kArchiveName, NameStamp(delivery)), existing);
  // A report that went in the message body is in no file: the archive
  // gets it as the log would have been attached.
  const bool report_in_body = options.LogInMessageBody();
  if (!temporary_archive.empty() && !report_in_body) {
    if (!MoveFileExA(temporary_archive.c_str(), kept.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING)) {
      return;
    }
  } else {
    WriteArchive(kept, files, DeliveryDisplayNames(delivery, files),
                 report_in_body ? AttachmentDisplayName(FileNameOf(options.LogFileName()), NameStamp(delivery)) : "",
                 WithReportEnding(delivery.text_to_send));
  }
  for (const std::string& name : ArchivesBeyondLimit(ArchivesIn(folder), kKeptArchiveLimit)) {
    DeleteFileA((folder + name).c_str());
  }
}

std::vector<std::string> ToVector(const StringList& list) {
  std::vector<std::string> items;
  for (int i = 0; i < list.Count(); ++i) items.push_back(list[i]);
  return items;
}

std::string MailBodyOf(const TReportDelivery& delivery) {
  const TRuzadaModuleOptions& options = *delivery.options;
  std::string body = options.MailBody();
  if (options.LogInMessageBody()) body += "\r\n\r\n\r\n" + delivery.text_to_send;
  return body;
}

bool MailAttempt(const TReportDelivery& delivery, const TDeliveryLists& lists) {
  const TRuzadaModuleOptions& options = *delivery.options;
  MailAttachments attachments;
  attachments.Files = lists.files;
  attachments.TimeStamp = NameStamp(delivery);
  if (options.MailMethod() == 2 || options.MailMethod() == 3) {
    const TCustomizedTexts texts = TextsOf(options);
    ShowSendDialog(SendDialogWanted(options, delivery.console), texts, options.DialogFlags());
    TSmtpMessage message;
    message.From = options.SmtpSender();
    message.Host = options.SmtpServer();
    message.Port = options.SmtpPort();
    message.UserID = options.SmtpUser();
    message.Password = options.SmtpPassword();
    message.Subject = options.MailSubject();
    message.Body = MailBodyOf(delivery);
    message.Attachments = attachments;
    TSmtpSession session;
    session.Texts = texts;
    session.Progress.SetStatus = &SetSendStatus;
    session.Progress.SetPosition = &SetSendProgress;
    session.Progress.SetCount = &SetSendCount;
    session.Progress.Close = &CloseSendDialog;
    session.Warn = WarningsOf(delivery);
    const bool delivered = SendSMTPMail(options.MailMethod() == 3, message, options.MailRecipients(), session);
    CloseSendDialog();
    return delivered;
  }
  if (options.MailMethod() == 1) {
    TClientMail mail;
    mail.Addresses = options.MailRecipients();
    mail.Subject = options.MailSubject();
    mail.Body = MailBodyOf(delivery);
    mail.Attachments = attachments;
    mail.ShowDialog = options.SendFlags().Contains(sfProgressDialog);
    mail.Warn = WarningsOf(delivery);
    if (SendMailMAPI(mail)) return true;
    return SendMailShell(options.MailRecipients(), options.MailSubject(), options.MailBody(), delivery.report_text,
                         mail.Warn);
  }
  return false;
}

bool WebAttempt(const TReportDelivery& delivery, TDeliveryLists& lists) {
  const TRuzadaModuleOptions& options = *delivery.options;
  const int method = options.UploadMethod();
  ShowSendDialog(SendDialogWanted(options, delivery.console), TextsOf(options), options.DialogFlags());
  TUploadAddress address;
  SplitUploadAddress(options.UploadAddress(), address);
  // A port written in the address serves when the port option is not set.
  const auto port = options.UploadPort() != 0 ? static_cast<std::uint16_t>(options.UploadPort()) : address.Port;
  const std::vector<std::string> display_names = DeliveryDisplayNames(delivery, lists.files);
  std::int32_t code = 0;
  std::string response;
  const char* protocol = "FTP";
  TDeveruVuzErrorCode error = eeWebFTPError;
  if (method == 1 || method == 2) {
    protocol = method == 2 ? "HTTPS" : "HTTP";
    error = method == 2 ? eeWebHTTPSError : eeWebHTTPError;
    StringList names;
    StringList values;
    delivery.context->FireCustomFieldsRequest(delivery.record, names, values);
    lists.field_names = ToVector(names);
    lists.field_values = ToVector(values);
    // Nothing to upload is nothing left undelivered.
    if (!lists.files.empty()) {
      code = HTTPUpload(address.Host, address.Path, options.UploadUser(), options.UploadPassword(), port, method == 2,
                        lists.files, display_names, lists.field_names, lists.field_values, &UploadProgress, response);
    }
  } else if (method == 3) {
    code = FTPUpload(address.Host, address.Path, options.UploadUser(), options.UploadPassword(), port, lists.files,
                     display_names, &UploadProgress, response);
  }
  CloseSendDialog();
  if (code == 0) return true;
  delivery.context->Warn(error, WebDeliveryErrorMessage(protocol, code, response), SendDialogShowsErrors());
  return false;
}

// One form of delivery with its events: the veto before, the retries the
// error handlers ask for, the notice after.
template <typename Attempt>
bool DeliverWithEvents(const TReportDelivery& delivery, TRuzadaActionType sending, TRuzadaActionType sent,
                       Attempt&& attempt) {
  PipelineContext& context = *delivery.context;
  if (!context.FireAction(delivery.record, sending)) return false;
  bool delivered = false;
  for (int retries = 0;; ++retries) {
    delivered = attempt();
    if (delivered || retries >= kMaxDeliveryRetries || !context.FireErrorAskingRetry(delivery.record, sent)) break;
  }
  context.FireAction(delivery.record, sent);
  return delivered;
}

// The copies of the report, the last web page and the XML export that go
// with the delivery. The first two are attachments: one that cannot be
// written is left out; the XML copy's failure is the delivery's.
void WriteCopies(const TReportDelivery& delivery, const std::string& log_copy, const std::string& html_copy,
                 const std::string& xml_copy) {
  try {
    if (!log_copy.empty()) WriteTextFile(log_copy, WithReportEnding(delivery.text_to_send));
  } catch (...) {
  }
  try {
    if (!html_copy.empty()) WriteTextFile(html_copy, delivery.html_page);
  } catch (...) {
  }
  if (!xml_copy.empty()) {
    WriteXmlCopy(xml_copy, delivery.options->LogInMessageBody(), log_copy, delivery.text_to_send);
  }
}

}  // namespace

std::vector<std::string> DeliveryDisplayNames(const TReportDelivery& delivery, const std::vector<std::string>& files) {
  std::vector<std::string> names;
  for (const std::string& file : files) names.push_back(AttachmentDisplayName(file, NameStamp(delivery)));
  return names;
}

bool SendByMail(const TReportDelivery& delivery, const TDeliveryLists& lists) {
  return DeliverWithEvents(delivery, atSendingEmail, atSentEmail, [&] { return MailAttempt(delivery, lists); });
}

bool SendByWeb(const TReportDelivery& delivery, TDeliveryLists& lists) {
  return DeliverWithEvents(delivery, atSendingWebMessage, atSentWebMessage,
                           [&] { return WebAttempt(delivery, lists); });
}

bool DeliverReport(const TReportDelivery& delivery) {
  const TRuzadaModuleOptions& options = *delivery.options;
  const TSendFlags flags = options.SendFlags();
  TDeliveryLists lists;

  const std::string temporary = TemporaryFolder();
  const std::string log_name = FileNameOf(options.LogFileName());
  const std::string log_copy = options.LogInMessageBody() || log_name.empty() ? "" : temporary + log_name;
  const std::string html_copy =
      flags.Contains(sfLastHtmlPage) && !delivery.html_page.empty() ? temporary + kLastHtmlPageName : "";
  const std::string xml_copy =
      flags.Contains(sfXmlCopy) ? XmlCopyFileName(options.LogFileName(), temporary) : std::string();
  const std::string archive = flags.Contains(sfCompressAttachments) ? temporary + kArchiveName : std::string();

  TemporaryFiles cleanup;
  cleanup.Add(archive);
  cleanup.Add(xml_copy);
  if (!RunsAsCgiProgram(delivery.console)) cleanup.Add(html_copy);
  cleanup.Add(log_copy);

  WriteCopies(delivery, log_copy, html_copy, xml_copy);

  StringList send_list;
  for (const std::string& file : SplitExtraFiles(options.ExtraFiles())) send_list.Add(file);
  for (const std::string& file :
       {log_copy, flags.Contains(sfScreenshot) ? delivery.screenshot : "", html_copy, xml_copy}) {
    if (!file.empty()) send_list.Add(file);
  }
  delivery.context->FireAttachedFilesRequest(delivery.record, send_list);
  for (const std::string& file : ToVector(send_list)) {
    if (IsFile(file)) lists.files.push_back(file);
  }
  const std::vector<std::string> files = lists.files;
  if (!archive.empty()) {
    WriteArchive(archive, files, DeliveryDisplayNames(delivery, files), "", "");
    lists.files = {archive};
  }

  // Both forms run: a mail that fails must not keep the report from the
  // web server, nor the other way round.
  bool result = true;
  if (options.MailMethod() != 0) result = SendByMail(delivery, lists) && result;
  if (options.UploadMethod() != 0) result = SendByWeb(delivery, lists) && result;

  if (!result && options.BehaviorFlags().Contains(bfClipboardCopyOnSendFailure)) {
    CopyTextToClipboard(delivery.report_text);
  }
  if (flags.Contains(sfResultMessage)) {
    MessageBoxA(nullptr, options.GetText(result ? kTextSendSucceeded : kTextSendFailed).c_str(),
                options.GetText(kTextInformationCaption).c_str(),
                (result ? MB_ICONINFORMATION : MB_ICONERROR) | kResultBoxModifiers);
  }
  if (!result && options.BehaviorFlags().Contains(bfKeepUnsentFiles)) KeepUnsentReport(delivery, archive, files);
  return result;
}

}  // namespace vellum::exceptlog
