// The base of the framework's plain COM objects (class factories): the
// shared reference count and nothing else; a class adds its interfaces and
// their table.
#pragma once

#include "shellext/factory/reference_count_win.h"

namespace vellum::shellext {

class DUduzInterfacedObject : public ReferenceCounted {};

}  // namespace vellum::shellext
