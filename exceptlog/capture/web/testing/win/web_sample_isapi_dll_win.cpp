// web_sample_isapi.dll: a server extension with the subsystem inside. The
// query "fail" makes the request fail; any other is answered with a small
// page through the server's WriteClient.
#include <windows.h>
// After windows.h, which it needs.
#include <httpext.h>

#include <cstring>
#include <exception>
#include <string>

#include "exceptlog/capture/manager/exception_manager_win.h"
#include "runtime/exception.h"

namespace {

using vellum::Exception;
VELLUM_EXCEPTION_CLASS(ERequestFailed, Exception);

__attribute__((noinline)) void Answer(EXTENSION_CONTROL_BLOCK& request) {
  const std::string query = request.lpszQueryString != nullptr ? request.lpszQueryString : "";
  if (query == "fail") throw ERequestFailed("The request <" + query + "> failed.");
  char page[] = "<html>fine</html>";
  DWORD size = static_cast<DWORD>(std::strlen(page));
  request.WriteClient(request.ConnID, page, &size, HSE_IO_SYNC);
}

}  // namespace

extern "C" BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version) {
  version->dwExtensionVersion = MAKELONG(HSE_VERSION_MINOR, HSE_VERSION_MAJOR);
  std::strcpy(version->lpszExtensionDesc, "Web pages sample");
  return TRUE;
}

// The boundary to the server: what escapes a request is reported, and the
// request ends in an error.
extern "C" DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* request) {
  try {
    Answer(*request);
    return HSE_STATUS_SUCCESS;
  } catch (...) {
    vellum::exceptlog::ReportEscapedException(std::current_exception(), vellum::exceptlog::rkGeneral);
  }
  return HSE_STATUS_ERROR;
}

extern "C" BOOL WINAPI TerminateExtension(DWORD) {
  return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  using namespace vellum;
  if (reason == DLL_PROCESS_ATTACH) {
    try {
      exceptlog::StartExceptionLog({instance, true, false});
    } catch (...) {
      return FALSE;
    }
    exceptlog::SetModuleInitializing(false);
  } else if (reason == DLL_PROCESS_DETACH) {
    exceptlog::SetModuleFinalizing(true);
    try {
      exceptlog::StopExceptionLog();
    } catch (...) {
    }
  }
  return TRUE;
}
