#include "runtime/registry/registry_ini_file_win.h"

#include "runtime/strings/format.h"
#include "runtime/strings/string_list.h"

namespace vellum {

namespace {

// A section or ident whose value cannot be read as asked: read the default.
template <typename Read, typename T>
T ReadOr(Read read, T fallback) {
  try {
    return read().value_or(fallback);
  } catch (const ERegistryException&) {
    return fallback;
  }
}

}  // namespace

RegistryIniFile::RegistryIniFile(std::string_view base_key, HKEY root, REGSAM access)
    : base_path_(base_key), root_(root), access_(access), base_(RegistryKey::Create(root, base_key, access)) {}

std::string RegistryIniFile::SectionPath(std::string_view section) const {
  return NormalizeKeyPath(base_path_ + "\\" + std::string(section));
}

RegistryKey RegistryIniFile::OpenSection(std::string_view section) const {
  return RegistryKey::OpenIfExists(root_, SectionPath(section), KEY_READ);
}

RegistryKey RegistryIniFile::CreateSection(std::string_view section) {
  return RegistryKey::Create(root_, SectionPath(section), access_);
}

std::string RegistryIniFile::ReadString(std::string_view section, std::string_view ident,
                                        std::string_view fallback) const {
  const RegistryKey key = OpenSection(section);
  if (!key.IsOpen()) return std::string(fallback);
  const auto info = key.QueryValue(ident);
  if (!info) return std::string(fallback);
  if (info->type == REG_DWORD) {
    const auto number = ReadOr([&] { return key.ReadDword(ident); }, DWORD{0});
    return std::to_string(static_cast<std::int32_t>(number));
  }
  return ReadOr([&] { return key.ReadString(ident); }, std::string(fallback));
}

void RegistryIniFile::WriteString(std::string_view section, std::string_view ident, std::string_view value) {
  CreateSection(section).WriteString(ident, value);
}

std::int32_t RegistryIniFile::ReadInteger(std::string_view section, std::string_view ident,
                                          std::int32_t fallback) const {
  const RegistryKey key = OpenSection(section);
  if (!key.IsOpen()) return fallback;
  const auto info = key.QueryValue(ident);
  if (!info) return fallback;
  if (info->type == REG_SZ || info->type == REG_EXPAND_SZ) {
    return StrToIntDef(ReadOr([&] { return key.ReadString(ident); }, std::string()), fallback);
  }
  return static_cast<std::int32_t>(ReadOr([&] { return key.ReadDword(ident); }, static_cast<DWORD>(fallback)));
}

void RegistryIniFile::WriteInteger(std::string_view section, std::string_view ident, std::int32_t value) {
  CreateSection(section).WriteDword(ident, static_cast<DWORD>(value));
}

bool RegistryIniFile::ReadBool(std::string_view section, std::string_view ident, bool fallback) const {
  return ReadInteger(section, ident, fallback ? 1 : 0) != 0;
}

void RegistryIniFile::WriteBool(std::string_view section, std::string_view ident, bool value) {
  WriteInteger(section, ident, value ? 1 : 0);
}

std::vector<std::uint8_t> RegistryIniFile::ReadBinary(std::string_view section, std::string_view ident) const {
  const RegistryKey key = OpenSection(section);
  if (!key.IsOpen()) return {};
  return key.ReadBinary(ident).value_or(std::vector<std::uint8_t>());
}

void RegistryIniFile::WriteBinary(std::string_view section, std::string_view ident,
                                  std::span<const std::uint8_t> data) {
  CreateSection(section).WriteBinary(ident, data);
}

bool RegistryIniFile::SectionExists(std::string_view section) const {
  return OpenSection(section).IsOpen();
}

bool RegistryIniFile::ValueExists(std::string_view section, std::string_view ident) const {
  const RegistryKey key = OpenSection(section);
  return key.IsOpen() && key.ValueExists(ident);
}

void RegistryIniFile::ReadSection(std::string_view section, StringList& idents) const {
  const RegistryKey key = OpenSection(section);
  std::vector<std::string> names;
  if (key.IsOpen()) names = key.ValueNames();
  idents.BeginUpdate();
  try {
    idents.Clear();
    for (const std::string& name : names) idents.Add(name);
  } catch (...) {
    idents.EndUpdate();
    throw;
  }
  idents.EndUpdate();
}

void RegistryIniFile::ReadSections(StringList& sections) const {
  const std::vector<std::string> names = base_.SubKeyNames();
  sections.BeginUpdate();
  try {
    sections.Clear();
    for (const std::string& name : names) sections.Add(name);
  } catch (...) {
    sections.EndUpdate();
    throw;
  }
  sections.EndUpdate();
}

void RegistryIniFile::ReadSectionValues(std::string_view section, StringList& lines) const {
  StringList idents;
  ReadSection(section, idents);
  lines.BeginUpdate();
  try {
    lines.Clear();
    for (int i = 0; i < idents.Count(); ++i) lines.Add(idents[i] + "=" + ReadString(section, idents[i], ""));
  } catch (...) {
    lines.EndUpdate();
    throw;
  }
  lines.EndUpdate();
}

void RegistryIniFile::EraseSection(std::string_view section) {
  if (NormalizeKeyPath(section).empty()) throw ERegistryException("EraseSection needs a section name");
  RegistryKey::DeleteTree(root_, SectionPath(section));
}

void RegistryIniFile::DeleteKey(std::string_view section, std::string_view ident) {
  RegistryKey::DeleteValue(root_, SectionPath(section), ident);
}

}  // namespace vellum
