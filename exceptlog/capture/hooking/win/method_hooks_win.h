// Hooks on slots of C++ virtual tables (the class method tables of the
// runtime): a thread class's Execute is redirected so that exceptions
// escaping it are reported.
#pragma once

#include <cstddef>
#include <vector>

#include "runtime/threading/critical_section_win.h"

namespace vellum::exceptlog {

struct HookedMethod {
  void* const* method_table = nullptr;  // the class
  void* previous = nullptr;
  std::size_t slot = 0;
};

// Every changed slot, under its own lock: runtime threads, and with them
// hooks on their classes, may be created on any thread. Freeing the list
// restores every slot, last hooked first.
class THookedMethodsList {
 public:
  THookedMethodsList() = default;
  ~THookedMethodsList();
  THookedMethodsList(const THookedMethodsList&) = delete;
  THookedMethodsList& operator=(const THookedMethodsList&) = delete;

  void* Hook(void* const* method_table, std::size_t slot, void* method);
  bool Unhook(void* const* method_table, std::size_t slot);
  // Restores every slot and empties the list; raises the first failure after
  // trying all of them.
  void RestoreAll();
  std::size_t Count();

 private:
  CriticalSection lock_;
  std::vector<HookedMethod> items_;
};

// Answers the slot's previous method. A slot that already holds `method`
// keeps it, and the method recorded when it was first hooked is answered.
// Only slots inside a loaded module are changed (and recorded); an unreadable
// slot yields nullptr. Raises EHookingError when hooking is not started.
void* HookVirtualMethod(void* const* method_table, std::size_t slot, void* method);
// Puts the recorded previous method back; answers whether the slot was hooked.
bool UnhookVirtualMethod(void* const* method_table, std::size_t slot);

}  // namespace vellum::exceptlog
