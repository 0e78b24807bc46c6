// Class identifiers as the registry spells them: upper-case hexadecimal in
// braces. Class lookup compares these strings exactly, so every place that
// makes one must produce the same spelling.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace vellum::shellext {

// "{6A8B8C3E-0D2F-4A5B-9C1D-2E3F4A5B6C7D}"
std::string GuidToRegistryString(const GUID& guid);

// True for a GUID in braces with hexadecimal digits of either case.
bool IsRegistryGuid(std::string_view text);

// A new random GUID from CoCreateGuid in registry form; raises EOSError when
// the system cannot make one.
std::string NewRegistryGuid();

}  // namespace vellum::shellext
