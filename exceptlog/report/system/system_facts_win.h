// What the report says about the machine, the program and the user, asked
// of the system at the time of the report. Every question degrades to an
// empty answer (or the report's fixed "unknown" texts) instead of failing:
// a report about one fault must not fail on another.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "exceptlog/report/builder/report_values.h"

namespace vellum::exceptlog {

// Local time minus UTC, in minutes, as the system applies it now.
int LocalZoneOffsetMinutes();

struct MainModuleFacts {
  std::string name_description;  // FileDescription, else the file name
  std::string version;
};
MainModuleFacts MainModuleVersion();

// The program's parameters without the program's own name, quotes removed.
std::vector<std::string> CommandLineParameters(const std::string& command_line);

std::string ComputerName();
std::string UserName();

struct MemoryFacts {
  std::uint64_t total = 0;
  std::uint64_t available = 0;
};
MemoryFacts PhysicalMemory();

struct DiskFacts {
  std::optional<std::uint64_t> total;
  std::optional<std::uint64_t> free;
};
// The drive holding `module`'s file.
DiskFacts ModuleDrive(HMODULE module);
// Its parts: the root of the drive (C:\ or \\server\share\; empty when
// the file has none), which stays while the module is loaded, and the
// drive's size and free space now.
std::string DriveRootOf(HMODULE module);
DiskFacts DriveSpace(const std::string& root);

std::uint64_t UpTimeMilliseconds();

std::string ProcessorName();
std::string DisplayMode();
SystemVersion OperatingSystemVersion();
std::string SystemLanguageName();
std::vector<NetworkAdapter> NetworkAdapters();
// iphlpapi, loaded on first use and kept for the process's life: loading it
// cost most of a report's time, and freeing it at the module's unload would
// happen under the loader lock. nullptr when it cannot be loaded.
HMODULE IpHelperLibrary();

struct WindowFacts {
  std::string class_name;
  std::string text;
};
WindowFacts ForegroundWindow();

}  // namespace vellum::exceptlog
