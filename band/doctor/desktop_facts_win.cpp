#include "band/doctor/desktop_facts_win.h"

#include <string>
#include <vector>

#include "band/vellum_desk_band_form_win.h"
#include "runtime/win/entry_point_win.h"

namespace vellum::band {

namespace {

constexpr char kTaskbarClass[] = "Shell_TrayWnd";
constexpr char kRebarClass[] = "ReBarWindow32";

using RtlGetVersionFunction = LONG WINAPI(OSVERSIONINFOW*);

std::string ClassOf(HWND window) {
  char name[256] = {};
  const int length = GetClassNameA(window, name, sizeof name);
  return std::string(name, length > 0 ? static_cast<std::size_t>(length) : 0);
}

BOOL CALLBACK NoteRebar(HWND window, LPARAM found) {
  if (ClassOf(window) != kRebarClass) return TRUE;
  *reinterpret_cast<bool*>(found) = true;
  return FALSE;
}

bool HasRebar(HWND taskbar) {
  bool found = false;
  // Every descendant, not only children: the rebar sits inside a frame.
  EnumChildWindows(taskbar, NoteRebar, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::vector<HWND> TopLevelWindows(const char* class_name, const char* title) {
  std::vector<HWND> windows;
  for (HWND after = nullptr; (after = FindWindowExA(nullptr, after, class_name, title)) != nullptr;) {
    windows.push_back(after);
  }
  return windows;
}

}  // namespace

Bits WindowsBits() {
  if constexpr (sizeof(void*) == 8) return Bits::k64;
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 ? Bits::k64 : Bits::k32;
}

std::uint32_t WindowsBuild() {
  const auto get_version = win::LookUpEntryPoint<RtlGetVersionFunction>(GetModuleHandleA("ntdll.dll"), "RtlGetVersion");
  if (get_version == nullptr) return 0;
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  return get_version(&version) == 0 ? version.dwBuildNumber : 0;
}

bool TaskbarHostsBands() {
  if (WindowsBuild() >= kFirstBuildWithoutBands) return false;
  for (HWND taskbar : TopLevelWindows(kTaskbarClass, nullptr)) {
    // A hidden one shows no taskbar: Wine keeps such a window for its
    // notification area whether or not it draws a taskbar.
    if (IsWindowVisible(taskbar) && !HasRebar(taskbar)) return false;
  }
  return true;
}

bool VellumRunning() {
  for (HWND window : TopLevelWindows(nullptr, kHostWindowName)) {
    if (ClassOf(window).find(kHostClassPart) != std::string::npos) return true;
  }
  return false;
}

}  // namespace vellum::band
