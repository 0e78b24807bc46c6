// Test support for the doctor on a real (Wine) machine: the band registered
// and unregistered in each registry view, the registry changes a test makes
// undone, and windows that play the taskbar, the band and Vellum.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "band/band_ids.h"
#include "band/server_dll_test_support_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::band::testing {

inline constexpr char kApprovedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
inline constexpr char kPoliciesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";

// This process's registry view, which is Explorer's: the tests run as
// Explorer would, a 32-bit test in a 32-bit prefix, a 64-bit one in a 64-bit prefix.
inline REGSAM OwnView() {
  return sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

inline std::string ShortPath(const std::string& path) {
  char short_path[MAX_PATH] = {};
  const DWORD length = GetShortPathNameA(path.c_str(), short_path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(short_path, length) : path;
}

// The band's class key and its "Approved" entry gone from one view, however
// they got there (a registered file that no longer exists cannot unregister).
inline void ForgetRegistration(REGSAM view) {
  HKEY classes = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_ALL_ACCESS | view, &classes) == ERROR_SUCCESS) {
    const win::UniqueRegKey owner(classes);
    RegDeleteTreeA(classes, kDeskBandClsid);
  }
  HKEY approved = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kApprovedKey, 0, KEY_SET_VALUE | view, &approved) == ERROR_SUCCESS) {
    const win::UniqueRegKey owner(approved);
    RegDeleteValueA(approved, kDeskBandClsid);
  }
}

inline void ForgetEveryRegistration() {
  ForgetRegistration(KEY_WOW64_32KEY);
  if (sizeof(void*) == 8) ForgetRegistration(KEY_WOW64_64KEY);
}

// The regsvr32 of the other bitness (SysWOW64's, from a 64-bit process).
inline DWORD Regsvr32Wow64(const std::string& dll) {
  char folder[MAX_PATH] = {};
  if (GetSystemWow64DirectoryA(folder, MAX_PATH) == 0) return ~0u;
  return RunAndWait("\"" + std::string(folder) + "\\regsvr32.exe\" /s \"" + dll + "\"");
}

// One registry value set for a test and put back as it was afterwards.
class ScopedDwordValue {
 public:
  ScopedDwordValue(HKEY root, REGSAM view, const char* key, const char* name, DWORD value) : name_(name) {
    HKEY raw = nullptr;
    if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | view, nullptr, &raw, nullptr) !=
        ERROR_SUCCESS) {
      ADD_FAILURE() << "cannot open " << key;
      return;
    }
    key_.reset(raw);
    DWORD size = sizeof saved_;
    had_value_ =
        RegQueryValueExA(raw, name, nullptr, &saved_type_, reinterpret_cast<BYTE*>(&saved_), &size) == ERROR_SUCCESS &&
        saved_type_ == REG_DWORD;
    EXPECT_EQ(RegSetValueExA(raw, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_SUCCESS);
  }
  ~ScopedDwordValue() {
    if (!key_) return;
    if (had_value_) {
      RegSetValueExA(key_.get(), name_.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&saved_), sizeof saved_);
    } else {
      RegDeleteValueA(key_.get(), name_.c_str());
    }
  }
  ScopedDwordValue(const ScopedDwordValue&) = delete;
  ScopedDwordValue& operator=(const ScopedDwordValue&) = delete;

 private:
  win::UniqueRegKey key_;
  std::string name_;
  bool had_value_ = false;
  DWORD saved_type_ = REG_NONE;
  DWORD saved_ = 0;
};

// A window of a class the test names, with a window procedure that does
// nothing of its own; the class is registered on first use.
inline HWND MakeWindow(const char* class_name, const char* title, DWORD style, HWND parent = nullptr) {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = DefWindowProcA;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = class_name;
  RegisterClassA(&window_class);  // fails harmlessly when it is already registered
  return CreateWindowExA(0, class_name, title, style, 0, 0, 200, 30, parent, nullptr, GetModuleHandleA(nullptr),
                         nullptr);
}

// The handle as the band publishes it: its 32 bits as a signed decimal.
inline std::string PublishedText(HWND window) {
  // width: window handles are 32-bit significant in 64-bit Windows too.
  return std::to_string(static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(window)));
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string TempFolder() {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  return temp;
}

}  // namespace vellum::band::testing
