#include "exceptlog/delivery/upload/wininet_library_win.h"

#include <algorithm>

#include "runtime/strings/string_utils.h"
#include "runtime/win/entry_point_win.h"

namespace vellum::exceptlog {

namespace {

template <typename Function>
bool LookUp(HMODULE module, const char* name, Function*& entry) {
  entry = win::LookUpEntryPoint<Function>(module, name);
  return entry != nullptr;
}

}  // namespace

WinInetLibrary::WinInetLibrary() : module_(LoadLibraryA(kWinInetLibraryName)) {
  if (!module_) return;
  const HMODULE m = module_.get();
  // Every name is asked for, so that a library missing any of them counts as
  // missing whatever the upload would have used.
  bool all = true;
  all &= LookUp(m, "InternetOpenA", InternetOpen);
  all &= LookUp(m, "InternetConnectA", InternetConnect);
  all &= LookUp(m, "HttpOpenRequestA", HttpOpenRequest);
  all &= LookUp(m, "HttpAddRequestHeadersA", HttpAddRequestHeaders);
  all &= LookUp(m, "HttpSendRequestA", HttpSendRequest);
  all &= LookUp(m, "HttpSendRequestExA", HttpSendRequestEx);
  all &= LookUp(m, "InternetWriteFile", InternetWrite);
  all &= LookUp(m, "HttpEndRequestA", HttpEndRequest);
  all &= LookUp(m, "HttpQueryInfoA", HttpQueryInfo);
  all &= LookUp(m, "InternetCloseHandle", InternetClose);
  all &= LookUp(m, "InternetSetOptionA", InternetSetOption);
  all &= LookUp(m, "FtpOpenFileA", FtpOpenFile);
  all &= LookUp(m, "InternetGetLastResponseInfoA", InternetGetLastResponseInfo);
  all &= LookUp(m, "InternetOpenUrlA", InternetOpenUrl);
  all &= LookUp(m, "InternetReadFile", InternetRead);
  all &= LookUp(m, "InternetGetConnectedState", InternetGetConnected);
  complete_ = all;
}

std::string WinInetLibrary::LastResponseText() const {
  char text[3001] = {};
  DWORD error = 0;
  DWORD length = sizeof text - 1;
  if (!InternetGetLastResponseInfo(&error, text, &length)) return {};
  return TrimRight(std::string(text, std::min<DWORD>(length, sizeof text - 1)));
}

bool InternetHandle::Close() {
  if (handle_ == nullptr) return true;
  const bool closed = library_.InternetClose(handle_) != FALSE;
  handle_ = nullptr;
  return closed;
}

}  // namespace vellum::exceptlog
