#include "band/testing/host_link_guard_win.h"

namespace vellum::band::testing {

namespace {

// From the outermost key the link may have to create to its own subkey.
constexpr const char* kKeyLevels[] = {"Software\\Larchwood", "Software\\Larchwood\\Vellum7",
                                      "Software\\Larchwood\\Vellum7\\Tessera"};
constexpr int kLinkLevel = 2;

bool KeyExists(const char* path) {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &raw) != ERROR_SUCCESS) return false;
  RegCloseKey(raw);
  return true;
}

}  // namespace

HostLinkRegistryGuard::HostLinkRegistryGuard(std::vector<std::string> value_names)
    : mutex_(CreateMutexA(nullptr, FALSE, "Local\\VellumHostLinkRegistryTest")) {
  if (mutex_) {
    const DWORD result = WaitForSingleObject(mutex_.get(), 30000);
    mutex_owned_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  }
  for (const char* path : kKeyLevels) key_existed_.push_back(KeyExists(path));
  for (auto& name : value_names) {
    std::optional<Value> value = Read(name);
    saved_.push_back({std::move(name), std::move(value)});
  }
}

HostLinkRegistryGuard::~HostLinkRegistryGuard() {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKeyLevels[kLinkLevel], 0, KEY_SET_VALUE, &raw) == ERROR_SUCCESS) {
    win::UniqueRegKey key(raw);
    for (const Saved& saved : saved_) {
      if (saved.value) {
        RegSetValueExA(key.get(), saved.name.c_str(), 0, saved.value->type, saved.value->bytes.data(),
                       static_cast<DWORD>(saved.value->bytes.size()));
      } else {
        RegDeleteValueA(key.get(), saved.name.c_str());
      }
    }
  }
  // Deepest first; RegDeleteKeyA refuses a key that has subkeys, so a key
  // someone else filled meanwhile stays.
  for (int level = kLinkLevel; level >= 0; --level) {
    if (!key_existed_[level]) RegDeleteKeyA(HKEY_CURRENT_USER, kKeyLevels[level]);
  }
  if (mutex_owned_) ReleaseMutex(mutex_.get());
}

bool HostLinkRegistryGuard::WriteText(const char* name, const std::string& text) {
  HKEY raw = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kKeyLevels[kLinkLevel], 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  win::UniqueRegKey key(raw);
  return RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

void HostLinkRegistryGuard::Delete(const char* name) {
  RegDeleteKeyValueA(HKEY_CURRENT_USER, kKeyLevels[kLinkLevel], name);
}

// Raw bytes and type, so that whatever was there comes back unchanged.
std::optional<HostLinkRegistryGuard::Value> HostLinkRegistryGuard::Read(const std::string& name) {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKeyLevels[kLinkLevel], 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  win::UniqueRegKey key(raw);
  Value value;
  DWORD size = 0;
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.bytes.resize(size);
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &value.type, value.bytes.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.bytes.resize(size);
  return value;
}

}  // namespace vellum::band::testing
