#include "exceptlog/report/dialog/dialog_content.h"

#include <gtest/gtest.h>

#include <memory>

namespace vellum::exceptlog {
namespace {

std::shared_ptr<const TRuzadaModuleInfo> Module(const std::string& path, std::uint8_t kind, double compiled) {
  auto module = std::make_shared<TRuzadaModuleInfo>();
  module->FileName = path;
  module->Kind = kind;
  module->CompileDate = compiled;
  return module;
}

TRuzadaDebugInfo Entry(std::uint8_t kind, std::uint32_t thread, bool live, std::uint32_t address,
                       std::shared_ptr<const TRuzadaModuleInfo> module, std::uint32_t line) {
  TRuzadaDebugInfo entry;
  entry.Kind = kind;
  entry.ThreadId = thread;
  entry.FromLiveStack = live ? 1 : 0;
  entry.Address = address;
  entry.Module = std::move(module);
  entry.ProcedureName = "P" + std::to_string(address);
  entry.Line = line;
  entry.ProcedureLine = 4;
  return entry;
}

TEST(CallStackPageRows, GroupsIconsAndSkippedRows) {
  const auto app = Module("C:\\app\\app.exe", mkProgram, 45000.25);
  const auto package = Module("C:\\app\\rtl.bpl", mkPackage, 0);
  const auto library = Module("C:\\windows\\kernel32.dll", mkLibrary, 0);
  TRuzadaStackList list;
  list.Add(Entry(dkDebugData, 100, true, 0x401000, app, 123));
  list.Add(Entry(dkExportedUnit, 100, true, 0x402000, app, 0));  // a program's export: not on the page
  list.Add(Entry(dkExportedUnit, 100, true, 0x403000, package, 0));
  list.Add(Entry(dkExportedName, 100, true, 0x7C801000, library, 0));
  list.Add(Entry(dkDebugData, 200, false, 0x404000, app, 7));
  list.Add(Entry(dkDebugData, 200, true, 0x405000, app, 8));

  TRuzadaModuleOptions options("app.exe", false);
  options.SetStackFlags(TStackFlags{skLibraryFrames, skPackageFrames, skProcedureLines});
  CallStackInput input;
  input.entries = &list;
  input.main_thread_id = 100;
  const auto rows = CallStackPageRows(options, input);
  ASSERT_EQ(rows.size(), 9U);
  EXPECT_TRUE(rows[0].is_header);
  EXPECT_EQ(rows[0].header_text.rfind("Exception Thread: ID=100;", 0), 0U) << rows[0].header_text;
  EXPECT_EQ(rows[0].group_state, 1);
  EXPECT_EQ(rows[1].cells[0], "00401000");
  EXPECT_EQ(rows[1].cells[5], "123[4]");
  EXPECT_EQ(rows[1].icon, 3);
  EXPECT_EQ(rows[1].compile_date, 45000.25);
  EXPECT_EQ(rows[2].icon, 1);
  EXPECT_EQ(rows[3].icon, 0);
  // A saved caller stack follows directly; a further live stack after a blank row.
  EXPECT_TRUE(rows[4].is_header);
  EXPECT_EQ(rows[4].group_state, 0);
  EXPECT_FALSE(rows[6].is_header);
  EXPECT_EQ(rows[6].cells, std::vector<std::string>(6, ""));
  EXPECT_TRUE(rows[7].is_header);
  EXPECT_EQ(rows[7].group_state, 1);
  EXPECT_EQ(rows[8].cells[0], "00405000");
}

TEST(ModulesPageRows, CellsAndIcons) {
  std::vector<ModuleRow> modules = {
      {0x00400000, "C:\\app\\App.EXE", "The app", "5.0.4.13", 1536, 0},
      {0x10000000, "C:\\pkg.Bpl", "", "1.2", 100, 0},
      {0x20000000, "C:\\lib\\x.dll", "", "", 0, 0},
  };
  const auto rows = ModulesPageRows(modules, AddressWidth::k32Bit);
  ASSERT_EQ(rows.size(), 3U);
  EXPECT_EQ(rows[0].cells,
            (std::vector<std::string>{"00400000", "App.EXE", "The app", "5.0.x", "2 Kb", "", "C:\\app"}));
  EXPECT_EQ(rows[0].icon, 2);
  EXPECT_EQ(rows[1].icon, 1);
  EXPECT_EQ(rows[1].cells[6], "C:\\");
  EXPECT_EQ(rows[2].icon, 0);
}

}  // namespace
}  // namespace vellum::exceptlog
