#include "runtime/registry/registry_key_win.h"

#include <utility>

#include "runtime/win/win_error_win.h"

namespace vellum {

namespace {

std::string RootName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_USERS) return "HKEY_USERS";
  if (root == HKEY_CURRENT_CONFIG) return "HKEY_CURRENT_CONFIG";
  return "(key)";
}

std::string FullName(HKEY root, const std::string& path) {
  return path.empty() ? RootName(root) : RootName(root) + "\\" + path;
}

[[noreturn]] void RaiseCall(const std::string& call, const std::string& subject, LONG code) {
  win::RaiseOSError((call + "(" + subject + ")").c_str(), static_cast<DWORD>(code));
}

// Deletes `name` below `parent` after everything below it, last subkey
// first, as the system deletes only keys without subkeys.
LONG DeleteTreeBelow(HKEY parent, const std::string& name) {
  HKEY raw = nullptr;
  LONG result = RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, &raw);
  if (result != ERROR_SUCCESS) return result;
  win::UniqueRegKey key(raw);
  std::vector<std::string> children;
  char buffer[256];  // subkey names are at most 255 characters
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof buffer;
    result = RegEnumKeyExA(key.get(), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) return result;
    children.emplace_back(buffer, length);
  }
  for (auto child = children.rbegin(); child != children.rend(); ++child) {
    result = DeleteTreeBelow(key.get(), *child);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) return result;
  }
  key.reset();
  return RegDeleteKeyA(parent, name.c_str());
}

}  // namespace

std::string NormalizeKeyPath(std::string_view path) {
  std::string result;
  result.reserve(path.size());
  for (const char c : path) {
    if (c == '\\' && (result.empty() || result.back() == '\\')) continue;
    result += c;
  }
  if (!result.empty() && result.back() == '\\') result.pop_back();
  return result;
}

RegistryKey RegistryKey::Open(HKEY root, std::string_view path, REGSAM access) {
  const std::string normal = NormalizeKeyPath(path);
  HKEY key = nullptr;
  const LONG result = RegOpenKeyExA(root, normal.c_str(), 0, access, &key);
  if (result != ERROR_SUCCESS) RaiseCall("RegOpenKeyExA", FullName(root, normal), result);
  return RegistryKey(key, FullName(root, normal));
}

RegistryKey RegistryKey::OpenIfExists(HKEY root, std::string_view path, REGSAM access) {
  const std::string normal = NormalizeKeyPath(path);
  HKEY key = nullptr;
  const LONG result = RegOpenKeyExA(root, normal.c_str(), 0, access, &key);
  if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND) return RegistryKey();
  if (result != ERROR_SUCCESS) RaiseCall("RegOpenKeyExA", FullName(root, normal), result);
  return RegistryKey(key, FullName(root, normal));
}

RegistryKey RegistryKey::Create(HKEY root, std::string_view path, REGSAM access, bool* created) {
  const std::string normal = NormalizeKeyPath(path);
  HKEY key = nullptr;
  DWORD disposition = 0;
  const LONG result =
      RegCreateKeyExA(root, normal.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, &disposition);
  if (result != ERROR_SUCCESS) RaiseCall("RegCreateKeyExA", FullName(root, normal), result);
  if (created != nullptr) *created = disposition == REG_CREATED_NEW_KEY;
  return RegistryKey(key, FullName(root, normal));
}

bool RegistryKey::Exists(HKEY root, std::string_view path) {
  return OpenIfExists(root, path, KEY_READ).IsOpen();
}

bool RegistryKey::DeleteTree(HKEY root, std::string_view path) {
  const std::string normal = NormalizeKeyPath(path);
  if (normal.empty()) throw ERegistryException("Refusing to delete a root key");
  const LONG result = DeleteTreeBelow(root, normal);
  if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND) return false;
  if (result != ERROR_SUCCESS) RaiseCall("RegDeleteKeyA", FullName(root, normal), result);
  return true;
}

bool RegistryKey::DeleteValue(HKEY root, std::string_view path, std::string_view name) {
  RegistryKey key = OpenIfExists(root, path, KEY_SET_VALUE);
  return key.IsOpen() && key.DeleteValue(name);
}

void RegistryKey::CheckOpen() const {
  if (!IsOpen()) throw ERegistryException("The registry key is not open");
}

void RegistryKey::Raise(const char* call, LONG code, std::string_view value_name) const {
  RaiseCall(call, value_name.empty() ? name_ : name_ + ", \"" + std::string(value_name) + "\"", code);
}

std::optional<RegistryKey::ValueInfo> RegistryKey::QueryValue(std::string_view name) const {
  CheckOpen();
  const std::string value_name(name);
  ValueInfo info;
  const LONG result = RegQueryValueExA(key_.get(), value_name.c_str(), nullptr, &info.type, nullptr, &info.size);
  if (result == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (result != ERROR_SUCCESS) Raise("RegQueryValueExA", result, name);
  return info;
}

bool RegistryKey::ReadRaw(std::string_view name, DWORD& type, std::vector<std::uint8_t>& data) const {
  CheckOpen();
  const std::string value_name(name);
  for (;;) {
    DWORD size = 0;
    LONG result = RegQueryValueExA(key_.get(), value_name.c_str(), nullptr, &type, nullptr, &size);
    if (result == ERROR_FILE_NOT_FOUND) return false;
    if (result != ERROR_SUCCESS) Raise("RegQueryValueExA", result, name);
    data.assign(size, 0);
    result =
        RegQueryValueExA(key_.get(), value_name.c_str(), nullptr, &type, data.empty() ? nullptr : data.data(), &size);
    if (result == ERROR_MORE_DATA) continue;  // it grew in between
    if (result == ERROR_FILE_NOT_FOUND) return false;
    if (result != ERROR_SUCCESS) Raise("RegQueryValueExA", result, name);
    data.resize(size);
    return true;
  }
}

std::optional<std::string> RegistryKey::ReadString(std::string_view name) const {
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> data;
  if (!ReadRaw(name, type, data)) return std::nullopt;
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    throw ERegistryException("Invalid data type for '" + std::string(name) + "'");
  }
  std::string text(data.begin(), data.end());
  const std::size_t end = text.find('\0');
  if (end != std::string::npos) text.resize(end);  // stored without a terminator, or with extra ones
  return text;
}

std::optional<DWORD> RegistryKey::ReadDword(std::string_view name) const {
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> data;
  if (!ReadRaw(name, type, data)) return std::nullopt;
  if (type != REG_DWORD || data.size() != sizeof(DWORD)) {
    throw ERegistryException("Invalid data type for '" + std::string(name) + "'");
  }
  return static_cast<DWORD>(data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<DWORD>(data[3]) << 24));
}

std::optional<std::vector<std::uint8_t>> RegistryKey::ReadBinary(std::string_view name) const {
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> data;
  if (!ReadRaw(name, type, data)) return std::nullopt;
  return data;
}

void RegistryKey::WriteString(std::string_view name, std::string_view value) {
  CheckOpen();
  const std::string value_name(name);
  const std::string text(value);
  const LONG result = RegSetValueExA(key_.get(), value_name.c_str(), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
  if (result != ERROR_SUCCESS) Raise("RegSetValueExA", result, name);
}

void RegistryKey::WriteDword(std::string_view name, DWORD value) {
  CheckOpen();
  const std::string value_name(name);
  const LONG result =
      RegSetValueExA(key_.get(), value_name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  if (result != ERROR_SUCCESS) Raise("RegSetValueExA", result, name);
}

void RegistryKey::WriteBinary(std::string_view name, std::span<const std::uint8_t> data) {
  CheckOpen();
  const std::string value_name(name);
  const LONG result =
      RegSetValueExA(key_.get(), value_name.c_str(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
  if (result != ERROR_SUCCESS) Raise("RegSetValueExA", result, name);
}

bool RegistryKey::DeleteValue(std::string_view name) {
  CheckOpen();
  const std::string value_name(name);
  const LONG result = RegDeleteValueA(key_.get(), value_name.c_str());
  if (result == ERROR_FILE_NOT_FOUND) return false;
  if (result != ERROR_SUCCESS) Raise("RegDeleteValueA", result, name);
  return true;
}

std::vector<std::string> RegistryKey::ValueNames() const {
  CheckOpen();
  DWORD longest = 0;
  LONG result = RegQueryInfoKeyA(key_.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longest,
                                 nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) Raise("RegQueryInfoKeyA", result);
  std::vector<char> buffer(longest + 1);
  std::vector<std::string> names;
  for (DWORD index = 0;;) {
    auto length = static_cast<DWORD>(buffer.size());
    result = RegEnumValueA(key_.get(), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result == ERROR_MORE_DATA && buffer.size() < 32768) {  // a longer name was added meanwhile
      buffer.resize(buffer.size() * 2 + 256);
      continue;
    }
    if (result != ERROR_SUCCESS) Raise("RegEnumValueA", result);
    names.emplace_back(buffer.data(), length);
    ++index;
  }
  return names;
}

std::vector<std::string> RegistryKey::SubKeyNames() const {
  CheckOpen();
  std::vector<std::string> names;
  char buffer[256];  // subkey names are at most 255 characters
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof buffer;
    const LONG result = RegEnumKeyExA(key_.get(), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) Raise("RegEnumKeyExA", result);
    names.emplace_back(buffer, length);
  }
  return names;
}

}  // namespace vellum
