// The module-wide count of live framework objects: every COM object and
// every framework component adds one while it exists. DllCanUnloadNow
// answers from it.
#pragma once

#include <windows.h>

namespace vellum::shellext {

LONG LiveObjectCount();

// A member of each object base: counts the object in for its lifetime. As a
// member it is also given back when a constructor further down raises.
class LiveObjectMark {
 public:
  LiveObjectMark();
  ~LiveObjectMark();
  LiveObjectMark(const LiveObjectMark&) = delete;
  LiveObjectMark& operator=(const LiveObjectMark&) = delete;
};

}  // namespace vellum::shellext
