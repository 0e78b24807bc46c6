#include "exceptlog/report/dialog/dialog_content.h"

#include <algorithm>
#include <cctype>

#include "exceptlog/report/builder/report_values.h"
#include "exceptlog/report/dialog/dialog_rules.h"
#include "runtime/strings/date_time.h"
#include "runtime/strings/format.h"

namespace vellum::exceptlog {

namespace {

int StackIcon(const TRuzadaDebugInfo& entry) {
  if (entry.Kind == dkDebugData) return 3;
  const int kind = entry.Module != nullptr ? static_cast<int>(entry.Module->Kind) : static_cast<int>(mkUndetermined);
  return kind == mkProgram ? 2 : kind == mkPackage ? 1 : 0;
}

std::string UpperExtension(const std::string& path) {
  const std::size_t dot = path.find_last_of('.');
  const std::size_t slash = path.find_last_of("\\/");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string extension = path.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return extension;
}

}  // namespace

std::vector<ListPageRow> CallStackPageRows(const TRuzadaModuleOptions& options, const CallStackInput& input) {
  std::vector<ListPageRow> rows;
  if (input.entries == nullptr) return rows;
  const TStackFlags flags = options.StackFlags();
  const TRuzadaDebugInfo* previous = nullptr;
  for (const TRuzadaDebugInfo& entry : input.entries->Entries()) {
    if (!StackEntryShown(entry, flags)) continue;
    // A program's exported-unit names say less than its own debug data would.
    if (entry.Kind == dkExportedUnit && entry.Module != nullptr && entry.Module->Kind == mkProgram) continue;
    if (previous == nullptr || entry.ThreadId != previous->ThreadId || entry.FromLiveStack != previous->FromLiveStack) {
      if (entry.FromLiveStack != 0 && previous != nullptr) {
        ListPageRow blank;
        blank.cells.assign(6, "");
        rows.push_back(std::move(blank));
      }
      ListPageRow header;
      header.is_header = true;
      header.header_text = ThreadHeaderText(options, input, entry, previous == nullptr);
      header.group_state = entry.FromLiveStack;
      header.cells.assign(6, "");
      rows.push_back(std::move(header));
    }
    ListPageRow row;
    const auto cells = StackEntryCells(entry, flags.Contains(skProcedureLines), input.address_width);
    row.cells.assign(cells.begin(), cells.end());
    row.icon = StackIcon(entry);
    row.compile_date = entry.Module != nullptr ? entry.Module->CompileDate : 0;
    rows.push_back(std::move(row));
    previous = &entry;
  }
  return rows;
}

std::vector<ListPageRow> ModulesPageRows(const std::vector<ModuleRow>& modules, AddressWidth width) {
  std::vector<ListPageRow> rows;
  for (const ModuleRow& module : modules) {
    ListPageRow row;
    row.cells = {
        IntToHex(module.handle, AddressDigits(width)),
        FileNameOf(module.path),
        module.description,
        ShortVersion(module.version),
        KilobyteText(module.size),
        module.modified != 0 ? FormatDateTime("yyyy-mm-dd hh:nn:ss", SerialToDateTime(module.modified)) : std::string(),
        ModuleFolder(module.path)};
    const std::string extension = UpperExtension(module.path);
    row.icon = extension == ".BPL" || extension == ".DPL" ? 1 : extension == ".EXE" ? 2 : 0;
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace vellum::exceptlog
