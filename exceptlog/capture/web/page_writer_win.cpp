// Sending the error page through each host's channel.
#include <windows.h>
// After windows.h, which it needs.
#include <httpext.h>

#include <cstring>

#include "exceptlog/capture/web/error_page.h"
#include "exceptlog/capture/web/web_host_win.h"
#include "exceptlog/capture/web/web_pages_state_win.h"
#include "runtime/exception.h"
#include "runtime/win/unique_handle_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum::exceptlog {

namespace {

// The recording hooks leave the subsystem's own writes alone.
class WritingOwnPage {
 public:
  WritingOwnPage() { TheWebPagesState().writing_own_page.store(true); }
  ~WritingOwnPage() { TheWebPagesState().writing_own_page.store(false); }
  WritingOwnPage(const WritingOwnPage&) = delete;
  WritingOwnPage& operator=(const WritingOwnPage&) = delete;
};

bool WriteThroughServer(const std::string& page, const WebWarning& warn) {
  WebPagesState& state = TheWebPagesState();
  EXTENSION_CONTROL_BLOCK* control_block = nullptr;
  {
    const std::lock_guard guard(state.lock);
    control_block = state.control_block;
  }
  if (control_block == nullptr) {
    warn("ISAPI", "ServerECB = nil");
    return false;
  }
  const WritingOwnPage own;
  control_block->dwHttpStatusCode = 200;
  const std::string header = PageHeaderBlock(false, page.size());
  static constexpr char kStatus[] = "200 Error";
  HSE_SEND_HEADER_EX_INFO info{};
  info.pszStatus = kStatus;
  info.cchStatus = static_cast<DWORD>(std::strlen(kStatus));
  info.pszHeader = header.c_str();
  info.cchHeader = static_cast<DWORD>(header.size());
  info.fKeepConn = FALSE;
  if (!control_block->ServerSupportFunction(control_block->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX, &info, nullptr,
                                            nullptr)) {
    warn("ISAPI", "Cannot send the response header.");
    return false;
  }
  DWORD size = static_cast<DWORD>(page.size());
  // Through the recording WriteClient, which passes it on unrecorded.
  if (!control_block->WriteClient(control_block->ConnID, const_cast<char*>(page.data()), &size, HSE_IO_SYNC)) {
    warn("ISAPI", "Cannot write the error page.");
    return false;
  }
  return true;
}

bool WriteToCgiOutput(const std::string& page, const WebWarning& warn) {
  const WritingOwnPage own;
  const std::string header = PageHeaderBlock(true, page.size());
  if (!WriteToStandardOutput(header.data(), static_cast<DWORD>(header.size()))) {
    warn("CGI", "Cannot write in the ouput file.");
    return false;
  }
  return WriteToStandardOutput(page.data(), static_cast<DWORD>(page.size())) != FALSE;
}

bool WriteToOutputFile(const std::string& page, const WebWarning& warn) {
  std::string output_file;
  {
    WebPagesState& state = TheWebPagesState();
    const std::lock_guard guard(state.lock);
    output_file = state.output_file;
  }
  try {
    // The answer replaces whatever the program had begun to write: a header
    // block in the middle of another answer would reach nobody.
    const win::UniqueFileHandle file(CreateFileA(output_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) win::RaiseLastOSError("CreateFileA");
    const std::string answer = PageHeaderBlock(true, page.size()) + page;
    DWORD written = 0;
    if (!WriteFile(file.get(), answer.data(), static_cast<DWORD>(answer.size()), &written, nullptr)) {
      win::RaiseLastOSError("WriteFile");
    }
    if (written != answer.size()) throw EWriteError("The output file was not written whole.");
    return true;
  } catch (const std::exception& failure) {
    warn("WinCGI", failure.what());
  }
  return false;
}

}  // namespace

bool WritePage(const std::string& page, const WebWarning& warn) {
  switch (CurrentWebHost()) {
    case whExtension: return WriteThroughServer(page, warn);
    case whCgi: return WriteToCgiOutput(page, warn);
    case whProfileCgi: return WriteToOutputFile(page, warn);
    case whNone: break;
  }
  return false;
}

bool ShowWebErrorPage(const TRuzadaModuleOptions& options, std::string_view message, const WebWarning& warn) {
  return WritePage(ErrorDisplayPage(options, message), warn);
}

}  // namespace vellum::exceptlog
