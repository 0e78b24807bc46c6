#include "exceptlog/capture/hooking/win/hooking_win.h"

#include <atomic>
#include <memory>
#include <string>

#include "exceptlog/capture/hooking/hook_errors.h"
#include "exceptlog/capture/hooking/internal_error.h"
#include "exceptlog/capture/hooking/win/hook_registry_win.h"
#include "exceptlog/capture/hooking/win/import_hooks_win.h"

namespace vellum::exceptlog {
namespace {

// Method hooks may be asked for on any thread, hence the atomic pointer; the
// registry itself is created and destroyed by start and stop only.
std::atomic<HookRegistry*> active_registry{nullptr};

// Undoes one change; remembers the first failure instead of stopping.
template <typename Undo>
void Attempt(std::string& first_failure, Undo&& undo) {
  try {
    undo();
  } catch (const std::exception& failure) {
    if (first_failure.empty()) first_failure = failure.what();
  } catch (...) {
    if (first_failure.empty()) first_failure = "General internal error.";
  }
}

}  // namespace

HookRegistry* ActiveHookRegistry() {
  return active_registry.load();
}

bool HookingStarted() {
  return ActiveHookRegistry() != nullptr;
}

void StartHooking() {
  RunCriticalSection("EHook.Init", [] {
    if (HookingStarted()) return;
    active_registry.store(std::make_unique<HookRegistry>().release());
  });
}

void StopHooking() {
  RunCriticalSection("EHook.Done", [] {
    // Taken out first: nothing is recorded while the changes are undone.
    std::unique_ptr<HookRegistry> registry(active_registry.exchange(nullptr));
    if (!registry) return;
    std::string first_failure;
    for (auto hooked = registry->imports.rbegin(); hooked != registry->imports.rend(); ++hooked) {
      Attempt(first_failure, [&] {
        HookImport(hooked->module, hooked->dll_name, hooked->replacement, true, true, hooked->dll_name,
                   hooked->previous);
      });
    }
    Attempt(first_failure, [&] { registry->methods.RestoreAll(); });
    for (auto hooked = registry->procedures.rbegin(); hooked != registry->procedures.rend(); ++hooked) {
      Attempt(first_failure,
              [&] { WriteMem(hooked->procedure, hooked->overwritten.data(), hooked->overwritten.size()); });
    }
    if (!first_failure.empty()) throw EHookError(first_failure);
  });
}

}  // namespace vellum::exceptlog
