// An ini-file style accessor over the registry: a base key below a root key
// plays the file, its subkeys are the sections and their values the idents.
// The base key is opened, and created when missing, at construction.
//
// Reads are forgiving as an ini file is: a missing section, a missing value
// or a value of a type that cannot be read as asked gives the default. A
// failing system call (no access, no such root) raises EOSError with the
// call's name and the system's text.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/registry/registry_key_win.h"

namespace vellum {

class StringList;

class RegistryIniFile {
 public:
  explicit RegistryIniFile(std::string_view base_key, HKEY root = HKEY_CURRENT_USER, REGSAM access = KEY_ALL_ACCESS);

  const std::string& FileName() const { return base_path_; }
  HKEY RootKey() const { return root_; }

  // An empty section addresses the base key itself.
  std::string ReadString(std::string_view section, std::string_view ident, std::string_view fallback) const;
  void WriteString(std::string_view section, std::string_view ident, std::string_view value);
  // REG_DWORD, or a REG_SZ that holds a number.
  std::int32_t ReadInteger(std::string_view section, std::string_view ident, std::int32_t fallback) const;
  void WriteInteger(std::string_view section, std::string_view ident, std::int32_t value);
  bool ReadBool(std::string_view section, std::string_view ident, bool fallback) const;
  void WriteBool(std::string_view section, std::string_view ident, bool value);
  // Empty when the value is missing.
  std::vector<std::uint8_t> ReadBinary(std::string_view section, std::string_view ident) const;
  void WriteBinary(std::string_view section, std::string_view ident, std::span<const std::uint8_t> data);

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view ident) const;
  // Value names of a section, subkey names of the base key, and a section's
  // values as "name=value" lines; each replaces the list's contents.
  void ReadSection(std::string_view section, StringList& idents) const;
  void ReadSections(StringList& sections) const;
  void ReadSectionValues(std::string_view section, StringList& lines) const;
  // Removes the section with everything below it; a missing one is no error.
  void EraseSection(std::string_view section);
  // Removes one value; a missing one is no error.
  void DeleteKey(std::string_view section, std::string_view ident);

 private:
  std::string SectionPath(std::string_view section) const;
  RegistryKey OpenSection(std::string_view section) const;  // not open when missing
  RegistryKey CreateSection(std::string_view section);

  std::string base_path_;
  HKEY root_;
  REGSAM access_;
  RegistryKey base_;
};

}  // namespace vellum
