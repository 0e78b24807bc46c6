// What a report asks of the machine that changes rarely, gathered once off
// the report's path (Warm, on a thread of its own) and kept fresh, so that a
// report reads it instead of asking again: the processor's name and the
// program's version never change while the process runs, a module's drive
// neither; the network adapters are asked again after the system says they
// changed. Shared by every report of the process: a report copies what it
// reads. Until Warm has run, every read answers nothing and the report asks
// the system itself.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "exceptlog/report/builder/report_values.h"
#include "exceptlog/report/system/system_facts_win.h"

namespace vellum::exceptlog {

// Tells whether something has changed since it was last armed.
class ChangeWatch {
 public:
  virtual ~ChangeWatch() = default;
  // Starts (or restarts) watching; false when the system cannot tell.
  virtual bool Arm() = 0;
  // True once a change happened after the last Arm.
  virtual bool Changed() = 0;
};

class MachineFacts {
 public:
  using AdapterQuery = std::function<std::vector<NetworkAdapter>()>;

  // The system's own questions and a watch of the network's addresses,
  // routes and DNS settings.
  MachineFacts();
  // Tests: what stands for the network and its watch.
  MachineFacts(AdapterQuery adapters, std::unique_ptr<ChangeWatch> network_watch);
  MachineFacts(const MachineFacts&) = delete;
  MachineFacts& operator=(const MachineFacts&) = delete;

  // The one every report of the process reads; made on first use and kept
  // for the process's life.
  static MachineFacts& Shared();

  // Gathers every fact now, asking the system outside the lock that reads
  // take. `module`: the module carrying the subsystem, whose drive a report
  // names. Slow (milliseconds): meant for a thread of its own.
  void Warm(HMODULE module);
  bool IsWarm() const;

  // The kept fact, or nothing: not gathered yet.
  std::optional<std::string> Processor() const;
  std::optional<MainModuleFacts> MainModule() const;
  std::optional<std::string> DriveRoot(HMODULE module) const;
  // The kept adapters while the watch saw no change. After a change the
  // adapters are asked again here (the watch armed first, so that a change
  // meanwhile is not lost) and kept; nothing before Warm.
  std::optional<std::vector<NetworkAdapter>> Adapters();

 private:
  AdapterQuery query_adapters_;
  std::unique_ptr<ChangeWatch> network_watch_;
  // lock_ guards the kept facts and is held only to read or write them;
  // refresh_lock_ keeps arming the watch and asking for the adapters to one
  // thread at a time.
  mutable std::mutex lock_;
  std::mutex refresh_lock_;
  bool warm_ = false;
  std::string processor_;
  MainModuleFacts main_module_;
  std::map<HMODULE, std::string> drive_roots_;
  // Nothing while not kept: before Warm, or without a watch to keep them fresh.
  std::optional<std::vector<NetworkAdapter>> adapters_;
};

// What PipelineSteps::gather_ahead runs: warms the shared facts.
void GatherMachineFactsAhead(std::uint64_t subsystem_module);

}  // namespace vellum::exceptlog
