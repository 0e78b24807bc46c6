// Registering component classes by name from Win32 code. <windows.h> turns
// the names RegisterClass and UnregisterClass into its window-class
// functions, also in a declaration read after it; these names reach the
// component model's class registry from any translation unit.
#pragma once

namespace vellum {
class ClassInfo;
}

namespace vellum::shellext {

void RegisterComponentClass(const ClassInfo& info);
void UnregisterComponentClass(const ClassInfo& info);

}  // namespace vellum::shellext
