// The modules of the process as a report lists them. The pipeline, the
// subsystem's start and the freeze watchdog's start change it, one at a time
// (under the pipeline lock or before any report can run); it has no lock of
// its own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "exceptlog/capture/callstack/module_info.h"

namespace vellum::exceptlog {

class TRuzadaModulesList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const std::shared_ptr<TRuzadaModuleInfo>& Items(int index) const {
    return items_.at(static_cast<std::size_t>(index));
  }
  void Delete(int index) { items_.erase(items_.begin() + index); }
  void Clear() { items_.clear(); }

  // The record of `module`, or nullptr.
  std::shared_ptr<TRuzadaModuleInfo> Find(HMODULE module) const;
  // The record, made when missing. A quick record (kind mkUndetermined) is
  // replaced by a full one unless a quick enumeration runs. nullptr when the
  // module's file name cannot be read.
  std::shared_ptr<TRuzadaModuleInfo> FindOrCreate(HMODULE module);
  // The record of the module whose image holds `address`, or nullptr. A
  // listed module's image answers without asking the memory manager: the
  // list must not hold modules that are gone (DropUnloaded).
  std::shared_ptr<TRuzadaModuleInfo> FindByAddress(std::uint64_t address);
  // The listed record whose image holds `address`, or nullptr; asks nothing.
  std::shared_ptr<TRuzadaModuleInfo> FindInImages(std::uint64_t address) const;
  // Removes the records of modules that are no longer loaded, or whose
  // address another module now holds. Cheap: the loader's own list is asked.
  void DropUnloaded();
  // Removes the records whose file's last-write time is no longer FileDate.
  void DropChanged();
  // Removes the records of modules that are gone, lists every module of the
  // process (quickly, see QuickEnumerationScope) and sorts by handle.
  void CollectAll();

 private:
  std::vector<std::shared_ptr<TRuzadaModuleInfo>> items_;
};

// The module handles of this process, by "EnumProcessModules" of
// "PSAPI.DLL" or by the ToolHelp snapshot; false when the method is not
// available or fails.
bool EnumerateModulesWithPsapi(std::vector<HMODULE>& modules);
bool EnumerateModulesWithToolHelp(std::vector<HMODULE>& modules);

// The module whose image holds `address`, or nullptr.
HMODULE ModuleOfAddress(std::uint64_t address);

}  // namespace vellum::exceptlog
