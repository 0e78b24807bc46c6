// Must not include <windows.h>: see the header.
#include "shellext/factory/component_classes.h"

#include "runtime/component/class_info.h"

namespace vellum::shellext {

void RegisterComponentClass(const ClassInfo& info) {
  RegisterClass(info);
}

void UnregisterComponentClass(const ClassInfo& info) {
  UnregisterClass(info);
}

}  // namespace vellum::shellext
