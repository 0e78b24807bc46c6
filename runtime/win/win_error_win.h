// The system's text for Win32 error codes, and raising EOSError with the
// failed call's name in the message.
#pragma once

#include <windows.h>

#include <string>

#include "runtime/exception.h"

namespace vellum::win {

// The system's message for `code`, without the trailing CR LF and period
// spacing; `module` names a DLL whose message table holds the code (WinInet).
std::string SystemErrorMessage(DWORD code, HMODULE module = nullptr);

// Raises EOSError "<call> failed: <system text> (<code>)" for GetLastError().
[[noreturn]] void RaiseLastOSError(const char* call);
[[noreturn]] void RaiseOSError(const char* call, DWORD code);

}  // namespace vellum::win
