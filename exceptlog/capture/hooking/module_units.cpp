#include "exceptlog/capture/hooking/module_units.h"

namespace vellum::exceptlog {

void ModuleUnitTable::RunInitializations() {
  // By index: a wrapper puts its procedure back while it runs.
  for (std::size_t i = 0; i < units_.size(); ++i) {
    if (units_[i].initialization) {
      auto initialization = units_[i].initialization;
      initialization();
    }
  }
}

void ModuleUnitTable::RunFinalizations() {
  for (std::size_t i = units_.size(); i-- > 0;) {
    if (units_[i].finalization) {
      auto finalization = units_[i].finalization;
      finalization();
    }
  }
}

bool HookModuleInitDone(ModuleUnitTable& table, ModuleLifecycleFlags& flags) {
  bool hooked = false;
  auto& units = table.units();
  for (std::size_t i = units.size(); i-- > 0;) {
    if (!units[i].initialization) continue;
    auto original = units[i].initialization;
    units[i].initialization = [&table, &flags, i, original] {
      original();
      flags.initializing = false;
      table.units()[i].initialization = original;
    };
    hooked = true;
    break;
  }
  for (std::size_t i = units.size(); i-- > 0;) {
    if (!units[i].finalization) continue;
    auto original = units[i].finalization;
    units[i].finalization = [&flags, original] {
      flags.finalizing = true;
      original();
    };
    hooked = true;
    break;
  }
  return hooked;
}

}  // namespace vellum::exceptlog
