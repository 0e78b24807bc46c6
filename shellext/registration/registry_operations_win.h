// The three registry operations that COM registration is made of. They use
// the ANSI functions with fixed access rights and value sizes, and they never
// raise: registration goes on past a step it cannot write (an approval value
// below HKEY_LOCAL_MACHINE without administrator rights), and removing what
// is not there is no error.
#pragma once

#include <windows.h>

#include <string>

namespace vellum::shellext {

// KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY.
inline constexpr REGSAM kRegistrationKeyAccess = 0x2001F;

// Creates `key` below `root` (non-volatile) and sets the REG_SZ value `name`
// (empty: the default value) to `text` with its terminating zero, so an
// empty text is a one-byte value. False when the key or value could not be
// written.
bool WriteRegistryString(HKEY root, const std::string& key, const std::string& name, const std::string& text);

// Deletes `key` and everything below it; a missing key is no error.
void DeleteRegistryKeyTree(HKEY root, const std::string& key);

// Deletes the value `name` of `key`; a missing key or value is no error.
void DeleteRegistryValue(HKEY root, const std::string& key, const std::string& name);

}  // namespace vellum::shellext
