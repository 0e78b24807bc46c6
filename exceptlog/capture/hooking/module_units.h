// The module's units, in the order they initialise, each with an optional
// initialization and finalization procedure. The DLL's start code runs the
// initializations in order at process attach and the finalizations in
// reverse at process detach. HookModuleInitDone lets the exception manager
// know when the module's own start has ended and its end has begun: an
// exception raised in between is the module's business, one raised before or
// after happens under the loader lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace vellum::exceptlog {

struct ModuleUnit {
  std::string name;
  std::function<void()> initialization;
  std::function<void()> finalization;
};

struct ModuleLifecycleFlags {
  std::atomic<bool> initializing{false};
  std::atomic<bool> finalizing{false};
};

class ModuleUnitTable {
 public:
  void Add(ModuleUnit unit) { units_.push_back(std::move(unit)); }
  std::vector<ModuleUnit>& units() { return units_; }
  void RunInitializations();
  void RunFinalizations();

 private:
  std::vector<ModuleUnit> units_;
};

// Wraps the last unit's initialization that exists so that, once it has run,
// `flags.initializing` clears and the procedure is put back; and the last
// finalization that exists (the first to run) so that `flags.finalizing` is
// set before it runs. Answers whether anything was wrapped.
bool HookModuleInitDone(ModuleUnitTable& table, ModuleLifecycleFlags& flags);

}  // namespace vellum::exceptlog
