#include "shellext/factory/live_object_count_win.h"

namespace vellum::shellext {

namespace {

// Objects are created and freed on whichever thread the shell calls from.
volatile LONG live_objects = 0;

}  // namespace

LONG LiveObjectCount() {
  return InterlockedCompareExchange(&live_objects, 0, 0);
}

LiveObjectMark::LiveObjectMark() {
  InterlockedIncrement(&live_objects);
}

LiveObjectMark::~LiveObjectMark() {
  InterlockedDecrement(&live_objects);
}

}  // namespace vellum::shellext
