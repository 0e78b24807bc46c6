// Test helper: everything below a registry key as plain values, so a test
// compares what registration wrote with what it expects in one assertion.
#pragma once

#include <windows.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/win/unique_handle_win.h"

namespace vellum::shellext::testing {

struct DumpedValue {
  DWORD type = REG_NONE;
  std::string data;  // the raw bytes, terminating zero included
  bool operator==(const DumpedValue&) const = default;
};

inline DumpedValue Sz(const std::string& text) {
  return {REG_SZ, text + std::string(1, '\0')};
}

inline std::ostream& operator<<(std::ostream& out, const DumpedValue& value) {
  return out << "type " << value.type << " \"" << value.data << "\" (" << value.data.size() << " bytes)";
}

// Key path relative to the dumped key ("" for the key itself) to its values.
using RegistryDump = std::map<std::string, std::map<std::string, DumpedValue>>;

inline void DumpInto(HKEY key, const std::string& relative, RegistryDump& dump) {
  auto& values = dump[relative];
  for (DWORD index = 0;; ++index) {
    char name[16384];
    DWORD name_length = sizeof name;
    DWORD type = 0;
    BYTE data[4096];
    DWORD size = sizeof data;
    if (RegEnumValueA(key, index, name, &name_length, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
    values[std::string(name, name_length)] = {type, std::string(reinterpret_cast<char*>(data), size)};
  }
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY raw = nullptr;
    if (RegOpenKeyExA(key, name, 0, KEY_READ, &raw) != ERROR_SUCCESS) continue;
    const win::UniqueRegKey child(raw);
    const std::string name_text(name, length);
    DumpInto(child.get(), relative.empty() ? name_text : relative + "\\" + name_text, dump);
  }
}

// Empty when the key does not exist.
inline RegistryDump Dump(HKEY root, const std::string& path) {
  RegistryDump dump;
  HKEY raw = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) return dump;
  const win::UniqueRegKey key(raw);
  DumpInto(key.get(), "", dump);
  return dump;
}

inline bool KeyExists(HKEY root, const std::string& path) {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) return false;
  const win::UniqueRegKey key(raw);
  return true;
}

}  // namespace vellum::shellext::testing
