#include "shellext/registration/desk_band_registration_win.h"

#include <windows.h>

#include "shellext/registration/module_path_win.h"
#include "shellext/registration/registry_guid_win.h"
#include "shellext/registration/registry_operations_win.h"

namespace vellum::shellext {

namespace {

std::string ClassKey(const DUduzBaseRegistration& registration) {
  if (!IsRegistryGuid(registration.Clsid())) {
    throw ERegistrationError("Invalid class identifier '" + registration.Clsid() + "'");
  }
  return "CLSID\\" + registration.Clsid();
}

std::string CategoryKey(const DUduzBaseRegistration& registration) {
  return ClassKey(registration) + "\\Implemented Categories\\" + kCatIdDeskBand;
}

// The shell caches which classes implement a category below the category's
// "Enum" key and only rebuilds the cache when the key is gone; without this a
// newly registered band stays missing from the taskbar's Toolbars menu.
std::string CategoryCacheKey() {
  return std::string("Component Categories\\") + kCatIdDeskBand + "\\Enum";
}

}  // namespace

void RegisterBandObject(const DUduzBaseRegistration& registration, const std::string& menu_text,
                        const std::string& module_path) {
  const std::string class_key = ClassKey(registration);
  // Written with a trailing backslash, which the system reads as the same key.
  const std::string server_key = class_key + "\\InProcServer32\\";
  WriteRegistryString(HKEY_CLASSES_ROOT, class_key, "", menu_text);
  WriteRegistryString(HKEY_CLASSES_ROOT, class_key, "Description", registration.Description());
  WriteRegistryString(HKEY_CLASSES_ROOT, server_key, "", module_path);
  WriteRegistryString(HKEY_CLASSES_ROOT, server_key, "ThreadingModel", "Apartment");
}

void RegisterDeskBand(const DUduzBaseRegistration& registration, const std::string& menu_text) {
  if (!registration.RegisterInRegistry()) return;
  ClassKey(registration);  // refuses a bad identifier before the first write
  RegisterBandObject(registration, menu_text, ShortModulePath(ThisModule()));
  // An empty default value, not a missing one: the key's presence is the mark.
  WriteRegistryString(HKEY_CLASSES_ROOT, CategoryKey(registration), "", "");
  // Scope plays no part here: the shell reads approvals only from the machine.
  if (IsWindowsNT()) {
    WriteRegistryString(HKEY_LOCAL_MACHINE, kApprovedExtensionsKey, registration.Clsid(), registration.Description());
  }
  DeleteRegistryKeyTree(HKEY_CLASSES_ROOT, CategoryCacheKey());
}

void UnregisterDeskBand(const DUduzBaseRegistration& registration) {
  const std::string class_key = ClassKey(registration);
  DeleteRegistryKeyTree(HKEY_CLASSES_ROOT, CategoryKey(registration));
  DeleteRegistryValue(HKEY_LOCAL_MACHINE, kApprovedExtensionsKey, registration.Clsid());
  DeleteRegistryKeyTree(HKEY_CLASSES_ROOT, class_key);
}

}  // namespace vellum::shellext
