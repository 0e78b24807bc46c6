#include "band/doctor/registry_facts_win.h"

#include <cstdint>
#include <vector>

#include "band/band_ids.h"
#include "band/doctor/category_cache.h"
#include "band/doctor/module_bits.h"
#include "runtime/registry/registry_key_win.h"
#include "runtime/win/unique_handle_win.h"
#include "shellext/registration/desk_band_registration_win.h"

namespace vellum::band {

namespace {

constexpr char kPoliciesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr char kNoToolbarsValue[] = "NoToolbarsOnTaskbar";

std::string ClassKey() {
  return std::string("CLSID\\") + kDeskBandClsid;
}

// What the in-process server's default value names, as the loader would
// take it: environment variables expanded, surrounding quotes dropped.
std::string ServerPath(const RegistryKey& server) {
  const auto info = server.QueryValue("");
  if (!info || (info->type != REG_SZ && info->type != REG_EXPAND_SZ)) return {};
  const auto text = server.ReadString("");
  if (!text) return {};
  std::string path = *text;
  if (info->type == REG_EXPAND_SZ) {
    const DWORD needed = ExpandEnvironmentStringsA(path.c_str(), nullptr, 0);
    std::string expanded(needed, '\0');
    if (needed > 0 && ExpandEnvironmentStringsA(path.c_str(), expanded.data(), needed) == needed) {
      expanded.resize(needed - 1);
      path = expanded;
    }
  }
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') path = path.substr(1, path.size() - 2);
  return path;
}

// A 32-bit process reading a 64-bit registration sees System32 through
// the file system redirector; the path means the real System32.
class RedirectionOff {
 public:
  explicit RedirectionOff(bool wanted) {
    if (wanted) off_ = Wow64DisableWow64FsRedirection(&old_) != FALSE;
  }
  ~RedirectionOff() {
    if (off_) Wow64RevertWow64FsRedirection(old_);
  }
  RedirectionOff(const RedirectionOff&) = delete;
  RedirectionOff& operator=(const RedirectionOff&) = delete;

 private:
  void* old_ = nullptr;
  bool off_ = false;
};

// The file's first bytes, up to what any module's headers need; nothing
// when the file cannot be opened or read.
std::vector<std::uint8_t> ReadFileStart(const std::string& path) {
  const win::UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::vector<std::uint8_t> bytes;
  if (!file) return bytes;
  bytes.resize(kModuleHeaderBytes);
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data() + filled, static_cast<DWORD>(bytes.size() - filled), &read, nullptr) ||
        read == 0) {
      break;
    }
    filled += read;
  }
  bytes.resize(filled);
  return bytes;
}

void ReadFileFacts(Bits view, ViewRegistration& registration) {
  if (registration.dll_path.empty()) return;
  const RedirectionOff redirection(view == Bits::k64 && sizeof(void*) == 4);
  const DWORD attributes = GetFileAttributesA(registration.dll_path.c_str());
  registration.file_exists = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (registration.file_exists) registration.file_bits = ModuleBits(ReadFileStart(registration.dll_path));
}

bool PolicySet(HKEY root, REGSAM view) {
  const RegistryKey key = RegistryKey::OpenIfExists(root, kPoliciesKey, KEY_QUERY_VALUE | view);
  if (!key.IsOpen()) return false;
  const auto info = key.QueryValue(kNoToolbarsValue);
  if (!info || info->type != REG_DWORD) return false;
  return key.ReadDword(kNoToolbarsValue).value_or(0) != 0;
}

}  // namespace

REGSAM ViewFlag(Bits view) {
  return view == Bits::k64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

ViewRegistration ReadViewRegistration(Bits view) {
  ViewRegistration registration;
  const REGSAM read = KEY_READ | ViewFlag(view);
  const RegistryKey server = RegistryKey::OpenIfExists(HKEY_CLASSES_ROOT, ClassKey() + "\\InprocServer32", read);
  if (server.IsOpen()) registration.dll_path = ServerPath(server);
  registration.class_registered = !registration.dll_path.empty();
  ReadFileFacts(view, registration);
  registration.in_band_category =
      RegistryKey::OpenIfExists(HKEY_CLASSES_ROOT, ClassKey() + "\\Implemented Categories\\" + shellext::kCatIdDeskBand,
                                read)
          .IsOpen();
  const RegistryKey approved =
      RegistryKey::OpenIfExists(HKEY_LOCAL_MACHINE, shellext::kApprovedExtensionsKey, KEY_QUERY_VALUE | ViewFlag(view));
  registration.approved = approved.IsOpen() && approved.ValueExists(kDeskBandClsid);
  return registration;
}

std::string CategoryCacheKey(Bits view) {
  return std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Discardable\\PostSetup\\") +
         (view == Bits::k64 ? "Component Categories64\\" : "Component Categories\\") + shellext::kCatIdDeskBand +
         "\\Enum";
}

bool CategoryCacheStale(Bits view, const ViewRegistration& registration) {
  if (!registration.class_registered || !registration.in_band_category) return false;
  const RegistryKey cache = RegistryKey::OpenIfExists(HKEY_CURRENT_USER, CategoryCacheKey(view), KEY_QUERY_VALUE);
  if (!cache.IsOpen()) return false;
  const auto implementing = cache.ReadBinary(kImplementingValue);
  if (!implementing) return false;
  static const ClassId band = *ParseClassId(kDeskBandClsid);
  return FindInCategoryCache(*implementing, band) == CacheListing::kNotListed;
}

bool ToolbarsForbidden(Bits windows) {
  if (PolicySet(HKEY_CURRENT_USER, 0)) return true;
  if (windows == Bits::k32) return PolicySet(HKEY_LOCAL_MACHINE, 0);
  return PolicySet(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY) || PolicySet(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
}

}  // namespace vellum::band
