#include "exceptlog/report/system/machine_facts_win.h"

#include <utility>

#include "exceptlog/capture/callstack/win/process_address_win.h"
#include "exceptlog/report/system/network_watch_win.h"

namespace vellum::exceptlog {

MachineFacts::MachineFacts() : MachineFacts(&NetworkAdapters, std::make_unique<NetworkChangeWatch>()) {}

MachineFacts::MachineFacts(AdapterQuery adapters, std::unique_ptr<ChangeWatch> network_watch)
    : query_adapters_(std::move(adapters)), network_watch_(std::move(network_watch)) {}

MachineFacts& MachineFacts::Shared() {
  // Never destroyed: the gathering thread may still be filling it while a
  // program's static objects are destroyed at its exit. What it holds goes
  // with the process; its pending notifications hold no pointer into code.
  static MachineFacts& facts = *std::make_unique<MachineFacts>().release();
  return facts;
}

void MachineFacts::Warm(HMODULE module) {
  std::string processor = ProcessorName();
  MainModuleFacts main_module = MainModuleVersion();
  std::string root = DriveRootOf(module);
  std::optional<std::vector<NetworkAdapter>> adapters;
  {
    const std::lock_guard<std::mutex> refreshing(refresh_lock_);
    // Armed before the question, so that a change while it is asked shows.
    if (network_watch_ != nullptr && network_watch_->Arm()) adapters = query_adapters_();
  }
  const std::lock_guard<std::mutex> guard(lock_);
  processor_ = std::move(processor);
  main_module_ = std::move(main_module);
  drive_roots_[module] = std::move(root);
  adapters_ = std::move(adapters);
  warm_ = true;
}

bool MachineFacts::IsWarm() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return warm_;
}

std::optional<std::string> MachineFacts::Processor() const {
  const std::lock_guard<std::mutex> guard(lock_);
  if (!warm_) return std::nullopt;
  return processor_;
}

std::optional<MainModuleFacts> MachineFacts::MainModule() const {
  const std::lock_guard<std::mutex> guard(lock_);
  if (!warm_) return std::nullopt;
  return main_module_;
}

std::optional<std::string> MachineFacts::DriveRoot(HMODULE module) const {
  const std::lock_guard<std::mutex> guard(lock_);
  const auto found = drive_roots_.find(module);
  if (found == drive_roots_.end()) return std::nullopt;
  return found->second;
}

std::optional<std::vector<NetworkAdapter>> MachineFacts::Adapters() {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!adapters_) return std::nullopt;
    if (!network_watch_->Changed()) return adapters_;
    adapters_.reset();
  }
  // Asked again outside the readers' lock: a report reading meanwhile asks
  // the system itself.
  const std::lock_guard<std::mutex> refreshing(refresh_lock_);
  if (!network_watch_->Arm()) return std::nullopt;
  std::vector<NetworkAdapter> adapters = query_adapters_();
  const std::lock_guard<std::mutex> guard(lock_);
  adapters_ = adapters;
  return adapters;
}

void GatherMachineFactsAhead(std::uint64_t subsystem_module) {
  MachineFacts::Shared().Warm(ToPointer<std::remove_pointer_t<HMODULE>>(subsystem_module));
}

}  // namespace vellum::exceptlog
