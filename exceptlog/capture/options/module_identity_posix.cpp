#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "exceptlog/capture/options/module_identity.h"

namespace vellum::exceptlog {

namespace {

struct Search {
  std::uintptr_t address = 0;
  std::string file_name;
  bool found = false;
};

int FindObjectHoldingAddress(dl_phdr_info* info, std::size_t, void* data) {
  auto* search = static_cast<Search*>(data);
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD) continue;
    const std::uintptr_t start = info->dlpi_addr + segment.p_vaddr;
    if (search->address >= start && search->address < start + segment.p_memsz) {
      search->file_name = info->dlpi_name != nullptr ? info->dlpi_name : "";
      search->found = true;
      return 1;
    }
  }
  return 0;
}

}  // namespace

std::string ThisModuleFileName() {
  Search search;
  search.address = reinterpret_cast<std::uintptr_t>(&ThisModuleFileName);
  dl_iterate_phdr(&FindObjectHoldingAddress, &search);
  // The program itself is listed without a name.
  if (search.found && !search.file_name.empty()) return search.file_name;
  char buffer[PATH_MAX] = {};
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

bool IsModuleOfThisCode(const std::string& module_file_name) {
  static const std::string this_module = ThisModuleFileName();
  return !module_file_name.empty() && module_file_name == this_module;
}

}  // namespace vellum::exceptlog
