#include "exceptlog/delivery/mail/mapi_mail_win.h"

#include <windows.h>
#include <mapi.h>

#include <deque>
#include <vector>

#include "runtime/registry/registry_key_win.h"
#include "runtime/win/entry_point_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {
namespace {

VELLUM_EXCEPTION_CLASS(EMapiError, Exception);

constexpr DWORD kExpandedPathLimit = 2048;

std::string ExpandEnvironment(const std::string& text) {
  std::vector<char> expanded(kExpandedPathLimit + 1, '\0');
  const DWORD length = ExpandEnvironmentStringsA(text.c_str(), expanded.data(), kExpandedPathLimit);
  if (length == 0 || length > kExpandedPathLimit) return text;
  return expanded.data();
}

std::string ClientLibraryPath(HKEY root) {
  const char* const clients = "SOFTWARE\\Clients\\Mail";
  const RegistryKey key = RegistryKey::OpenIfExists(root, clients, KEY_READ);
  if (!key.IsOpen()) return {};
  const std::string client = key.ReadString("").value_or("");
  if (client.empty()) return {};
  const RegistryKey client_key = RegistryKey::OpenIfExists(root, std::string(clients) + "\\" + client, KEY_READ);
  return client_key.IsOpen() ? client_key.ReadString("DLLPath").value_or("") : std::string();
}

win::UniqueModule LoadMapiLibrary() {
  std::string path = ClientLibraryPath(HKEY_CURRENT_USER);
  if (path.empty()) path = ClientLibraryPath(HKEY_LOCAL_MACHINE);
  win::UniqueModule library;
  if (!path.empty()) library.reset(LoadLibraryA(ExpandEnvironment(path).c_str()));
  if (!library) library.reset(LoadLibraryA("mapi32.dll"));
  if (!library) throw EMapiError("Cannot open the MAPI dll.");
  return library;
}

struct MapiFunctions {
  MAPILOGON* Logon = nullptr;
  MAPILOGOFF* Logoff = nullptr;
  MAPISENDMAIL* SendMail = nullptr;
  MAPIRESOLVENAME* ResolveName = nullptr;
  LPMAPIFREEBUFFER FreeBuffer = nullptr;
};

MapiFunctions LookUpFunctions(HMODULE library) {
  MapiFunctions functions;
  functions.Logon = win::LookUpEntryPoint<MAPILOGON>(library, "MAPILogon");
  functions.Logoff = win::LookUpEntryPoint<MAPILOGOFF>(library, "MAPILogoff");
  functions.SendMail = win::LookUpEntryPoint<MAPISENDMAIL>(library, "MAPISendMail");
  functions.ResolveName = win::LookUpEntryPoint<MAPIRESOLVENAME>(library, "MAPIResolveName");
  functions.FreeBuffer =
      reinterpret_cast<LPMAPIFREEBUFFER>(reinterpret_cast<void*>(GetProcAddress(library, "MAPIFreeBuffer")));
  if (!functions.Logon || !functions.Logoff || !functions.SendMail || !functions.ResolveName || !functions.FreeBuffer) {
    throw EMapiError("Cannot found the MAPI functions.");
  }
  return functions;
}

class MapiSession {
 public:
  explicit MapiSession(const MapiFunctions& functions) : functions_(functions) {
    if (functions_.Logon(0, nullptr, nullptr, MAPI_LOGON_UI, 0, &handle_) != SUCCESS_SUCCESS) {
      throw EMapiError("Cannot LogOn into the MAPI service.");
    }
  }
  ~MapiSession() { functions_.Logoff(handle_, 0, 0, 0); }
  MapiSession(const MapiSession&) = delete;
  MapiSession& operator=(const MapiSession&) = delete;
  LHANDLE get() const { return handle_; }

 private:
  const MapiFunctions& functions_;
  LHANDLE handle_ = 0;
};

// The texts and identifiers the descriptors point into; a deque keeps them
// in place while more are added. Nothing limits their number or length.
struct MessageStore {
  std::deque<std::string> texts;
  std::deque<std::vector<std::uint8_t>> entry_ids;
  std::vector<MapiFileDesc> files;
  std::vector<MapiRecipDesc> recipients;

  char* Text(std::string text) { return texts.emplace_back(std::move(text)).data(); }
};

void AddAttachment(MessageStore& store, const std::string& file_name, const MailAttachments& attachments) {
  if (file_name.empty()) return;
  const std::string expanded = ExpandEnvironment(file_name);
  char full[MAX_PATH * 4] = {};
  if (GetFullPathNameA(expanded.c_str(), sizeof full, full, nullptr) == 0) return;
  if (GetFileAttributesA(full) == INVALID_FILE_ATTRIBUTES) return;
  MapiFileDesc file{};
  file.nPosition = static_cast<ULONG>(-1);
  file.lpszPathName = store.Text(full);
  file.lpszFileName = store.Text(AttachmentDisplayName(file_name, attachments.TimeStamp));
  store.files.push_back(file);
}

void AddRecipient(MessageStore& store, const MapiFunctions& functions, LHANDLE session, const std::string& address) {
  MapiRecipDesc recipient{};
  recipient.ulRecipClass = MAPI_TO;
  lpMapiRecipDesc resolved = nullptr;
  std::string text = address;
  if (functions.ResolveName(session, 0, text.data(), 0, 0, &resolved) == SUCCESS_SUCCESS && resolved != nullptr) {
    const std::string name = resolved->lpszName != nullptr ? resolved->lpszName : address;
    const std::string mail =
        resolved->lpszAddress != nullptr && *resolved->lpszAddress != '\0' ? std::string(resolved->lpszAddress) : name;
    recipient.lpszName = store.Text(name);
    recipient.lpszAddress = store.Text(mail);
    if (resolved->lpEntryID != nullptr && resolved->ulEIDSize != 0) {
      const auto* bytes = static_cast<const std::uint8_t*>(resolved->lpEntryID);
      auto& id = store.entry_ids.emplace_back(bytes, bytes + resolved->ulEIDSize);
      recipient.ulEIDSize = resolved->ulEIDSize;
      recipient.lpEntryID = id.data();
    }
    functions.FreeBuffer(resolved);
  } else {
    recipient.lpszName = store.Text(address);
    recipient.lpszAddress = store.Text(address);
  }
  store.recipients.push_back(recipient);
}

void SendThroughMapi(const TClientMail& mail) {
  const std::vector<std::string> addresses = SplitMailAddresses(mail.Addresses);
  const win::UniqueModule library = LoadMapiLibrary();
  const MapiFunctions functions = LookUpFunctions(library.get());
  const MapiSession session(functions);
  MessageStore store;
  for (const auto& file : mail.Attachments.Files) AddAttachment(store, file, mail.Attachments);
  for (const auto& file : mail.Attachments.FilesList) AddAttachment(store, file, mail.Attachments);
  for (const auto& address : addresses) AddRecipient(store, functions, session.get(), address);
  MapiMessage message{};
  std::string subject = mail.Subject;
  std::string body = mail.Body;
  message.lpszSubject = subject.data();
  message.lpszNoteText = body.data();
  message.nRecipCount = static_cast<ULONG>(store.recipients.size());
  message.lpRecips = store.recipients.empty() ? nullptr : store.recipients.data();
  message.nFileCount = static_cast<ULONG>(store.files.size());
  message.lpFiles = store.files.empty() ? nullptr : store.files.data();
  const FLAGS flags = MAPI_LOGON_UI | (mail.ShowDialog ? MAPI_DIALOG : 0);
  const ULONG result = functions.SendMail(session.get(), 0, &message, flags, 0);
  // A user who closes the compose window has decided; that is no failure.
  if (result != SUCCESS_SUCCESS && result != MAPI_USER_ABORT) throw EMapiError("Cannot send the MAPI message.");
}

}  // namespace

bool SendMailMAPI(const TClientMail& mail) {
  try {
    SendThroughMapi(mail);
    return true;
  } catch (...) {
    TellSectionError(mail.Warn, eeEmailMAPIError, "MAPI", std::current_exception());
    return false;
  }
}

}  // namespace vellum::exceptlog
