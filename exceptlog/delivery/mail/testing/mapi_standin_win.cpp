// A stand-in mail client's Simple MAPI library: it records every call, one
// line each, in the file named by VELLUM_MAIL_STANDIN_RECORD, resolves the
// addresses that contain "known", and answers MAPISendMail with the value of
// VELLUM_MAPI_SEND_RESULT (0 when unset).
#include <windows.h>
#include <mapi.h>

#include <cstdio>
#include <cstdlib>
#include <list>
#include <mutex>
#include <string>

namespace {

struct ResolvedEntry {
  MapiRecipDesc desc{};
  std::string name = "Known Person";
  std::string address;
  unsigned char entry_id[4] = {0xDE, 0xAD, 0xBE, 0xEF};
};

std::mutex lock;
std::list<ResolvedEntry> entries;

void Record(const std::string& line) {
  // The test sets its environment through Win32, which the C runtime's copy
  // of it does not follow.
  char file_name[MAX_PATH] = {};
  if (GetEnvironmentVariableA("VELLUM_MAIL_STANDIN_RECORD", file_name, MAX_PATH) == 0) return;
  if (FILE* file = std::fopen(file_name, "ab")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

std::string Text(const char* text) {
  return text != nullptr ? text : "(null)";
}

}  // namespace

extern "C" {

ULONG WINAPI MAPILogon(ULONG_PTR, LPSTR profile, LPSTR password, FLAGS flags, ULONG, LPLHANDLE session) {
  Record("logon profile=" + Text(profile) + " password=" + Text(password) + " flags=" + std::to_string(flags));
  *session = 77;
  return SUCCESS_SUCCESS;
}

ULONG WINAPI MAPILogoff(LHANDLE session, ULONG_PTR, FLAGS, ULONG) {
  Record("logoff session=" + std::to_string(session));
  return SUCCESS_SUCCESS;
}

ULONG WINAPI MAPIResolveName(LHANDLE session, ULONG_PTR, LPSTR name, FLAGS flags, ULONG, lpMapiRecipDesc* recipient) {
  Record("resolve session=" + std::to_string(session) + " name=" + Text(name) + " flags=" + std::to_string(flags));
  if (std::string(name).find("known") == std::string::npos) return MAPI_E_UNKNOWN_RECIPIENT;
  const std::lock_guard guard(lock);
  ResolvedEntry& entry = entries.emplace_back();
  entry.address = "SMTP:" + std::string(name);
  entry.desc.ulRecipClass = MAPI_TO;
  entry.desc.lpszName = entry.name.data();
  entry.desc.lpszAddress = entry.address.data();
  entry.desc.ulEIDSize = sizeof entry.entry_id;
  entry.desc.lpEntryID = entry.entry_id;
  *recipient = &entry.desc;
  return SUCCESS_SUCCESS;
}

ULONG WINAPI MAPIFreeBuffer(LPVOID buffer) {
  const std::lock_guard guard(lock);
  const auto before = entries.size();
  entries.remove_if([buffer](const ResolvedEntry& entry) { return &entry.desc == buffer; });
  Record(before != entries.size() ? "free entry" : "free unknown");
  return SUCCESS_SUCCESS;
}

ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR, lpMapiMessage message, FLAGS flags, ULONG) {
  Record("send session=" + std::to_string(session) + " flags=" + std::to_string(flags) +
         " subject=" + Text(message->lpszSubject) + " note=" + Text(message->lpszNoteText) +
         " files=" + std::to_string(message->nFileCount) + " table=" + (message->lpFiles ? "yes" : "no"));
  for (ULONG i = 0; i < message->nRecipCount; ++i) {
    const MapiRecipDesc& r = message->lpRecips[i];
    Record("recipient class=" + std::to_string(r.ulRecipClass) + " name=" + Text(r.lpszName) +
           " address=" + Text(r.lpszAddress) + " eid=" + std::to_string(r.ulEIDSize));
  }
  for (ULONG i = 0; i < message->nFileCount; ++i) {
    const MapiFileDesc& f = message->lpFiles[i];
    Record("file position=" + std::to_string(static_cast<long>(f.nPosition)) + " path=" + Text(f.lpszPathName) +
           " name=" + Text(f.lpszFileName));
  }
  char result[16] = {};
  if (GetEnvironmentVariableA("VELLUM_MAPI_SEND_RESULT", result, sizeof result) == 0) return SUCCESS_SUCCESS;
  return std::strtoul(result, nullptr, 10);
}

}  // extern "C"
