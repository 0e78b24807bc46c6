// WinInet for the length of one upload: loaded by name, every entry point
// the upload uses looked up, and released again at the end, so that a
// process that never uploads never maps it. Handles close through the
// loaded library.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

inline constexpr char kWinInetLibraryName[] = "wininet.dll";

class WinInetLibrary {
 public:
  WinInetLibrary();
  WinInetLibrary(const WinInetLibrary&) = delete;
  WinInetLibrary& operator=(const WinInetLibrary&) = delete;

  // The library and all sixteen entry points were found.
  bool Complete() const { return complete_; }

  decltype(InternetOpenA)* InternetOpen = nullptr;
  decltype(InternetConnectA)* InternetConnect = nullptr;
  decltype(HttpOpenRequestA)* HttpOpenRequest = nullptr;
  decltype(HttpAddRequestHeadersA)* HttpAddRequestHeaders = nullptr;
  decltype(HttpSendRequestA)* HttpSendRequest = nullptr;
  decltype(HttpSendRequestExA)* HttpSendRequestEx = nullptr;
  decltype(InternetWriteFile)* InternetWrite = nullptr;
  decltype(HttpEndRequestA)* HttpEndRequest = nullptr;
  decltype(HttpQueryInfoA)* HttpQueryInfo = nullptr;
  decltype(InternetCloseHandle)* InternetClose = nullptr;
  decltype(InternetSetOptionA)* InternetSetOption = nullptr;
  decltype(FtpOpenFileA)* FtpOpenFile = nullptr;
  decltype(InternetGetLastResponseInfoA)* InternetGetLastResponseInfo = nullptr;
  decltype(InternetOpenUrlA)* InternetOpenUrl = nullptr;
  decltype(InternetReadFile)* InternetRead = nullptr;
  decltype(InternetGetConnectedState)* InternetGetConnected = nullptr;

  // The server's last words (an FTP reply), at most 3000 characters, without
  // the final line break; empty when WinInet has none.
  std::string LastResponseText() const;

 private:
  win::UniqueModule module_;
  bool complete_ = false;
};

// One WinInet handle, closed through the library that made it.
class InternetHandle {
 public:
  InternetHandle(const WinInetLibrary& library, HINTERNET handle) : library_(library), handle_(handle) {}
  ~InternetHandle() { Close(); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;

  explicit operator bool() const { return handle_ != nullptr; }
  HINTERNET get() const { return handle_; }
  // False when WinInet reports a failure at the close (an FTP store that
  // did not complete).
  bool Close();

 private:
  const WinInetLibrary& library_;
  HINTERNET handle_;
};

// Null for an empty text: WinInet then takes its default (for FTP the
// anonymous log-on) rather than an empty user name.
inline const char* OptionalText(const std::string& text) {
  return text.empty() ? nullptr : text.c_str();
}

}  // namespace vellum::exceptlog
