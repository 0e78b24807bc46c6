#include "shellext/registration/registry_operations_win.h"

#include <vector>

#include "runtime/win/unique_handle_win.h"

namespace vellum::shellext {

namespace {

win::UniqueRegKey OpenKey(HKEY root, const std::string& key, REGSAM access) {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, access, &raw) != ERROR_SUCCESS) return {};
  return win::UniqueRegKey(raw);
}

std::vector<std::string> SubKeyNames(HKEY key) {
  DWORD count = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr) != ERROR_SUCCESS) {
    return {};
  }
  std::vector<std::string> names;
  names.reserve(count);
  char name[256];  // key names are at most 255 characters
  for (DWORD index = 0; index < count; ++index) {
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
      names.emplace_back(name, length);
    }
  }
  return names;
}

// Key paths are built with a trailing backslash in places ("...\\InProcServer32\\");
// the system refuses an empty path component, so no second one is added.
std::string JoinKeyPath(const std::string& key, const std::string& child) {
  if (!key.empty() && key.back() == '\\') return key + child;
  return key + "\\" + child;
}

}  // namespace

bool WriteRegistryString(HKEY root, const std::string& key, const std::string& name, const std::string& text) {
  HKEY raw = nullptr;
  if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kRegistrationKeyAccess, nullptr, &raw,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const win::UniqueRegKey created(raw);
  return RegSetValueExA(created.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

void DeleteRegistryKeyTree(HKEY root, const std::string& key) {
  std::vector<std::string> children;
  {
    const win::UniqueRegKey opened = OpenKey(root, key, KEY_READ);
    if (!opened) return;
    children = SubKeyNames(opened.get());
  }
  // The system deletes only keys without subkeys; going from the last index
  // down keeps the remaining indexes valid while the walk deletes.
  for (auto child = children.rbegin(); child != children.rend(); ++child) {
    DeleteRegistryKeyTree(root, JoinKeyPath(key, *child));
  }
  if (OpenKey(root, key, KEY_WRITE)) RegDeleteKeyA(root, key.c_str());
}

void DeleteRegistryValue(HKEY root, const std::string& key, const std::string& name) {
  HKEY raw = nullptr;
  if (RegOpenKeyA(root, key.c_str(), &raw) != ERROR_SUCCESS) return;
  const win::UniqueRegKey opened(raw);
  RegDeleteValueA(opened.get(), name.c_str());
}

}  // namespace vellum::shellext
