// What the exception dialog shows, taken from the report as it was built:
// the texts of the General, CPU and Other pages and the rows of the two list
// pages, with what a row needs beyond its cells (its icon, the compile date
// a source request carries).
#pragma once

#include <string>
#include <vector>

#include "exceptlog/report/builder/report_tables.h"

namespace vellum::exceptlog {

struct ListPageRow {
  bool is_header = false;
  std::string header_text;
  int group_state = 0;
  std::vector<std::string> cells;
  int icon = -1;  // 0 library, 1 package, 2 program, 3 source with lines
  double compile_date = 0;
};

struct DialogContent {
  std::string message;  // the compact mode's text
  std::string general, cpu, custom_data;
  std::vector<ListPageRow> call_stack;
  std::vector<ListPageRow> modules;
};

// The Call Stack page: the entries the report's table shows, grouped by
// thread, a blank row before each further live stack.
std::vector<ListPageRow> CallStackPageRows(const TRuzadaModuleOptions& options, const CallStackInput& input);
// The Modules page: short versions, sizes in kilobytes, icons by extension.
std::vector<ListPageRow> ModulesPageRows(const std::vector<ModuleRow>& modules, AddressWidth width);

}  // namespace vellum::exceptlog
