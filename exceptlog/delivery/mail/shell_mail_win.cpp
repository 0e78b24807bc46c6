#include "exceptlog/delivery/mail/shell_mail_win.h"

#include <windows.h>

#include <vector>

#include "exceptlog/delivery/mail/mail_message.h"
#include "runtime/registry/registry_key_win.h"
#include "runtime/strings/string_utils.h"
#include "runtime/win/unique_handle_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum::exceptlog {
namespace {

VELLUM_EXCEPTION_CLASS(EMailShellError, Exception);

constexpr DWORD kIdleWait = 10000;
// Mail programs show their compose window a little after they go idle.
constexpr DWORD kWindowWait = 2000;

std::string MailtoCommand() {
  std::string command;
  try {
    const RegistryKey key = RegistryKey::OpenIfExists(HKEY_CLASSES_ROOT, "mailto\\shell\\open\\command", KEY_READ);
    if (key.IsOpen()) command = key.ReadString("").value_or("");
  } catch (const ERegistryException&) {
    // No readable command: starting the empty command line reports it.
  }
  std::vector<char> expanded(32768, '\0');
  const DWORD length = ExpandEnvironmentStringsA(command.c_str(), expanded.data(), expanded.size());
  return length != 0 && length <= expanded.size() ? std::string(expanded.data()) : command;
}

struct WindowSearch {
  DWORD process_id = 0;
  HWND found = nullptr;
};

BOOL CALLBACK FindMainWindow(HWND window, LPARAM parameter) {
  auto& search = *reinterpret_cast<WindowSearch*>(parameter);
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  if (process_id != search.process_id || !IsWindowVisible(window)) return TRUE;
  const HWND owner = GetWindow(window, GW_OWNER);
  if (owner != nullptr && owner != GetDesktopWindow()) return TRUE;
  const LONG style = GetWindowLongA(window, GWL_EXSTYLE);
  if ((style & WS_EX_TOOLWINDOW) != 0 && (style & WS_EX_APPWINDOW) == 0) return TRUE;
  search.found = window;
  return FALSE;
}

bool RunMailProgram(const std::string& command_line) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWMAXIMIZED;
  PROCESS_INFORMATION process{};
  std::string line = command_line;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS,
                      nullptr, nullptr, &startup, &process)) {
    throw EMailShellError(win::SystemErrorMessage(GetLastError()));
  }
  const win::UniqueKernelHandle process_handle(process.hProcess);
  const win::UniqueKernelHandle thread_handle(process.hThread);
  WaitForInputIdle(process.hProcess, kIdleWait);
  Sleep(kWindowWait);
  WindowSearch search{process.dwProcessId, nullptr};
  EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&search));
  if (search.found != nullptr) SetWindowPos(search.found, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  DWORD exit_code = 0;
  return WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
         GetExitCodeProcess(process.hProcess, &exit_code);
}

}  // namespace

bool SendMailShell(const std::string& addresses, const std::string& subject, const std::string& body,
                   const std::string& report_text, const DeliveryWarningSink& warn) {
  try {
    const std::string url = "mailto:" + addresses + "?Subject=" + URLEncodeText(subject) +
                            "&Body=" + URLEncodeText(body + "\r\n\r\n\r\n" + report_text);
    return RunMailProgram(StringReplace(MailtoCommand(), "%1", url, rfReplaceAll));
  } catch (...) {
    TellSectionError(warn, eeEmailShellError, "Shell", std::current_exception());
    return false;
  }
}

}  // namespace vellum::exceptlog
