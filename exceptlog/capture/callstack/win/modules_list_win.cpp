#include "exceptlog/capture/callstack/win/modules_list_win.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "exceptlog/capture/callstack/win/module_record_win.h"
#include "exceptlog/capture/callstack/win/process_address_win.h"
#include "exceptlog/capture/hooking/win/memory_write_win.h"
#include "runtime/win/entry_point_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

namespace {

// Bounds the two-call protocol of EnumProcessModules against a list that
// keeps growing between the calls.
constexpr int kEnumerationAttempts = 4;

struct ToolHelpSnapshotTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::CloseHandle(h); }
};

}  // namespace

namespace {

using EnumerateModules = decltype(EnumProcessModules);

bool EnumerateWith(EnumerateModules* enumerate, std::vector<HMODULE>& modules) {
  // The pseudo handle of this process carries every access right.
  HANDLE process = GetCurrentProcess();
  DWORD needed = 0;
  if (!enumerate(process, nullptr, 0, &needed)) return false;
  for (int attempt = 0; attempt < kEnumerationAttempts; ++attempt) {
    modules.assign(needed / sizeof(HMODULE), nullptr);
    const DWORD size = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
    if (!enumerate(process, modules.data(), size, &needed)) return false;
    if (needed <= size) {
      modules.resize(needed / sizeof(HMODULE));
      return true;
    }
  }
  return false;
}

}  // namespace

bool EnumerateModulesWithPsapi(std::vector<HMODULE>& modules) {
  // Since Windows 7 kernel32 answers itself; loading and freeing PSAPI.DLL
  // for every report cost more than all the rest of listing the modules.
  if (auto* own = win::LookUpEntryPoint<EnumerateModules>(GetModuleHandleA("kernel32.dll"), "K32EnumProcessModules")) {
    return EnumerateWith(own, modules);
  }
  win::UniqueModule psapi(LoadLibraryA("PSAPI.DLL"));
  auto* enumerate = win::LookUpEntryPoint<EnumerateModules>(psapi.get(), "EnumProcessModules");
  return enumerate != nullptr && EnumerateWith(enumerate, modules);
}

bool EnumerateModulesWithToolHelp(std::vector<HMODULE>& modules) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto* snapshot_of = win::LookUpEntryPoint<decltype(CreateToolhelp32Snapshot)>(kernel, "CreateToolhelp32Snapshot");
  auto* first = win::LookUpEntryPoint<decltype(Module32First)>(kernel, "Module32First");
  auto* next = win::LookUpEntryPoint<decltype(Module32Next)>(kernel, "Module32Next");
  if (snapshot_of == nullptr || first == nullptr || next == nullptr) return false;
  win::UniqueHandle<ToolHelpSnapshotTraits> snapshot(snapshot_of(TH32CS_SNAPMODULE, GetCurrentProcessId()));
  if (!snapshot) return false;
  modules.clear();
  MODULEENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = first(snapshot.get(), &entry); more; more = next(snapshot.get(), &entry)) {
    modules.push_back(entry.hModule);
  }
  return true;
}

HMODULE ModuleOfAddress(std::uint64_t address) {
  MEMORY_BASIC_INFORMATION info{};
  if (address > UINTPTR_MAX || VirtualQuery(ToPointer(address), &info, sizeof info) == 0) {
    return nullptr;
  }
  if (info.State != MEM_COMMIT || info.Type != MEM_IMAGE || info.AllocationBase == nullptr) return nullptr;
  return static_cast<HMODULE>(info.AllocationBase);
}

std::shared_ptr<TRuzadaModuleInfo> TRuzadaModulesList::Find(HMODULE module) const {
  const std::uint64_t handle = ToAddress(module);
  for (const auto& record : items_) {
    if (record->Handle == handle) return record;
  }
  return nullptr;
}

std::shared_ptr<TRuzadaModuleInfo> TRuzadaModulesList::FindOrCreate(HMODULE module) {
  const bool quick = QuickEnumerationRunning();
  std::shared_ptr<TRuzadaModuleInfo> found = Find(module);
  if (found && (found->Kind != mkUndetermined || quick)) return found;
  std::shared_ptr<TRuzadaModuleInfo> record = CreateModuleRecord(module, quick);
  if (!record) return found;
  if (found) {
    // Entries made from the quick record keep it; the list has the full one.
    *std::find(items_.begin(), items_.end(), found) = record;
  } else {
    items_.push_back(record);
  }
  return record;
}

std::shared_ptr<TRuzadaModuleInfo> TRuzadaModulesList::FindInImages(std::uint64_t address) const {
  for (const auto& record : items_) {
    if (address >= record->Handle && address - record->Handle < record->ImageSize) return record;
  }
  return nullptr;
}

std::shared_ptr<TRuzadaModuleInfo> TRuzadaModulesList::FindByAddress(std::uint64_t address) {
  if (const auto known = FindInImages(address)) {
    if (known->Kind != mkUndetermined || QuickEnumerationRunning()) return known;
  }
  HMODULE module = ModuleOfAddress(address);
  return module == nullptr ? nullptr : FindOrCreate(module);
}

void TRuzadaModulesList::DropUnloaded() {
  // A module that is gone has no file name; one unloaded with another loaded
  // at its address has another file name, and its record would describe the
  // wrong module.
  std::erase_if(items_, [](const std::shared_ptr<TRuzadaModuleInfo>& record) {
    const std::string current = LoaderModuleFileName(ToPointer<std::remove_pointer_t<HMODULE>>(record->Handle));
    return current.empty() || lstrcmpiA(current.c_str(), record->LoadedName.c_str()) != 0;
  });
}

void TRuzadaModulesList::DropChanged() {
  // Compared in whole seconds: a date just computed may still carry the
  // x87 unit's extra precision that the stored one lost.
  auto seconds = [](double date) { return std::llround(date * 86400.0); };
  // A file that was missing is still missing while its folder's time stands;
  // each folder is asked once.
  std::vector<std::pair<std::string, std::uint64_t>> folder_times;
  const auto still_missing = [&](const TRuzadaModuleInfo& record) {
    if (record.MissingFileFolderTime == 0) return false;
    std::string folder = FolderOfFile(record.FileName);
    auto known = std::find_if(folder_times.begin(), folder_times.end(),
                              [&](const auto& entry) { return entry.first == folder; });
    if (known == folder_times.end()) {
      const std::uint64_t time = FolderWriteTime(folder);
      known = folder_times.insert(folder_times.end(), {std::move(folder), time});
    }
    return known->second == record.MissingFileFolderTime;
  };
  std::erase_if(items_, [&](const std::shared_ptr<TRuzadaModuleInfo>& record) {
    return !still_missing(*record) && seconds(ModuleFileDate(record->FileName)) != seconds(record->FileDate);
  });
}

void TRuzadaModulesList::CollectAll() {
  DropUnloaded();
  {
    const QuickEnumerationScope quick;
    std::vector<HMODULE> modules;
    bool listed = false;
    if (exceptlog::IsNtPlatform()) listed = EnumerateModulesWithPsapi(modules);
    // PSAPI.DLL is an optional part of some systems; ToolHelp lists the same.
    if (!listed) listed = EnumerateModulesWithToolHelp(modules);
    if (listed) {
      for (HMODULE module : modules) {
        if (!Find(module)) FindOrCreate(module);
      }
    }
  }
  std::stable_sort(items_.begin(), items_.end(), [](const auto& a, const auto& b) { return a->Handle < b->Handle; });
}

}  // namespace vellum::exceptlog
