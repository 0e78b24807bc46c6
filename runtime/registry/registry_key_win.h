// An open registry key, owned: opened or created with the access rights the
// caller names, read and written with the ANSI registry functions. Failures
// of the system calls raise EOSError naming the call, the key and the
// system's text; a value of the wrong type raises ERegistryException.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/exception.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum {

VELLUM_EXCEPTION_CLASS(ERegistryException, Exception);

// Key paths are taken with or without leading, trailing or doubled
// backslashes ("CLSID\{...}\InProcServer32\" names the same key as
// "CLSID\{...}\InProcServer32"); this gives the form the system accepts.
std::string NormalizeKeyPath(std::string_view path);

class RegistryKey {
 public:
  RegistryKey() = default;  // not open

  static RegistryKey Open(HKEY root, std::string_view path, REGSAM access);
  // A missing key answers a key that is not open; other failures raise.
  static RegistryKey OpenIfExists(HKEY root, std::string_view path, REGSAM access);
  // Opens the key, creating it and any missing parents (non-volatile).
  static RegistryKey Create(HKEY root, std::string_view path, REGSAM access, bool* created = nullptr);
  static bool Exists(HKEY root, std::string_view path);
  // Deletes the key with everything below it; false when it did not exist.
  static bool DeleteTree(HKEY root, std::string_view path);
  // False when the key or the value did not exist.
  static bool DeleteValue(HKEY root, std::string_view path, std::string_view name);

  bool IsOpen() const { return key_.valid(); }
  HKEY get() const { return key_.get(); }
  void Close() { key_.reset(); }

  struct ValueInfo {
    DWORD type = REG_NONE;
    DWORD size = 0;
  };
  // An empty name is the key's default value.
  std::optional<ValueInfo> QueryValue(std::string_view name) const;
  bool ValueExists(std::string_view name) const { return QueryValue(name).has_value(); }

  // REG_SZ or REG_EXPAND_SZ (not expanded), up to the first NUL.
  std::optional<std::string> ReadString(std::string_view name) const;
  std::optional<DWORD> ReadDword(std::string_view name) const;
  // The raw data of a value of any type.
  std::optional<std::vector<std::uint8_t>> ReadBinary(std::string_view name) const;

  // REG_SZ with its terminating zero; an empty text still writes one byte.
  void WriteString(std::string_view name, std::string_view value);
  void WriteDword(std::string_view name, DWORD value);
  void WriteBinary(std::string_view name, std::span<const std::uint8_t> data);
  bool DeleteValue(std::string_view name);

  std::vector<std::string> ValueNames() const;
  std::vector<std::string> SubKeyNames() const;

  // The text used in error messages, e.g. HKEY_CURRENT_USER\Software\Larchwood.
  const std::string& Name() const { return name_; }

 private:
  RegistryKey(HKEY key, std::string name) : key_(key), name_(std::move(name)) {}
  void CheckOpen() const;
  // Reads a value's type and data, growing the buffer when it changed size
  // between the size query and the read.
  bool ReadRaw(std::string_view name, DWORD& type, std::vector<std::uint8_t>& data) const;
  [[noreturn]] void Raise(const char* call, LONG code, std::string_view value_name = {}) const;

  win::UniqueRegKey key_;
  std::string name_;
};

}  // namespace vellum
