#include "exceptlog/report/builder/report_tables.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "runtime/strings/date_time.h"

namespace vellum::exceptlog {
namespace {

std::string Dashes(std::size_t count) {
  return std::string(count, '-');
}
std::string Wide(const std::string& text, std::size_t inner) {
  return "|" + text + std::string(inner - text.size(), ' ') + "|\r\n";
}

std::shared_ptr<const TRuzadaModuleInfo> Module(const std::string& path) {
  auto module = std::make_shared<TRuzadaModuleInfo>();
  module->FileName = path;
  return module;
}

TRuzadaDebugInfo Entry(std::uint8_t kind, std::uint32_t thread, bool live, std::uint32_t address,
                       std::shared_ptr<const TRuzadaModuleInfo> module, std::string unit, std::string class_name,
                       std::string procedure, std::uint32_t line, std::uint32_t procedure_line) {
  TRuzadaDebugInfo entry;
  entry.Kind = kind;
  entry.ThreadId = thread;
  entry.FromLiveStack = live ? 1 : 0;
  entry.Address = address;
  entry.Module = std::move(module);
  entry.UnitName = std::move(unit);
  entry.ClassName = std::move(class_name);
  entry.ProcedureName = std::move(procedure);
  entry.Line = line;
  entry.ProcedureLine = procedure_line;
  return entry;
}

// The raising thread, a thread it called (its saved copy) and the same
// thread's own running stack; entries the flags hide; a thread the threads
// list does not hold.
TEST(CallStackSection, ThreadGroupsAndColumns) {
  const auto app = Module("C:\\app\\app.exe");
  const auto kernel = Module("C:\\windows\\system32\\kernel32.dll");
  TRuzadaStackList list;
  list.Add(Entry(dkDebugData, 100, true, 0x00401234, app, "main.cpp", "", "Run", 12, 3));
  list.Add(Entry(dkExportedUnit, 100, true, 0x00409999, app, "pkg", "TPkgClassWithAVeryLongName", "Hidden", 0, 0));
  list.Add(Entry(dkExportedName, 100, true, 0x7C801000, kernel, "", "", "BaseThreadInitThunk", 0, 0));
  list.Add(Entry(dkDebugData, 200, false, 0x00402000, app, "worker.cpp", "TWorker", "Execute", 7, 0));
  list.Add(Entry(dkDebugData, 200, true, 0x00402100, app, "worker.cpp", "", "Loop", 99, 5));
  list.Add(Entry(dkHidden, 200, true, 0x00402200, app, "worker.cpp", "", "Repeated", 100, 6));
  list.Add(Entry(dkModule, 200, true, 0x00402300, app, "", "", "", 0, 0));

  TRuzadaModuleOptions options("app.exe", false);
  options.SetStackFlags(TStackFlags{skLibraryFrames, skProcedureLines});
  std::vector<int> codes;
  CallStackInput input{&list, 100,
                       [](std::uint32_t id) -> std::optional<ThreadFacts> {
                         if (id == 100) return ThreadFacts{"0", ""};
                         return std::nullopt;
                       },
                       [&](int code) { codes.push_back(code); }};

  // Widths 8, 12 (kernel32.dll), 10 (worker.cpp), 7 (TWorker), 19
  // (BaseThreadInitThunk), 5 ("12[3]"): Z = 61.
  const std::size_t inner = 66;
  const std::string group = "|" + Dashes(inner) + "|\r\n";
  const std::string expected =
      "Call Stack Information:\r\n" + Dashes(68) +
      "\r\n"
      "|Address |Module      |Unit      |Class  |Procedure/Method   |Line |\r\n" +
      Dashes(68) + "\r\n" + Wide(" Exception Thread: ID=100; Priority=0; Class=; [Main]", inner) + group +
      "|00401234|app.exe     |main.cpp  |       |Run                |12[3]|\r\n"
      "|7C801000|kernel32.dll|          |       |BaseThreadInitThunk|     |\r\n" +
      group + Wide(" Calling Thread: ID=200; Priority=??; Class=", inner) + group +
      "|00402000|app.exe     |worker.cpp|TWorker|Execute            |7[0] |\r\n" + group + Wide("", inner) +
      Wide(" Running Thread: ID=200; Priority=??; Class=", inner) + group +
      "|00402100|app.exe     |worker.cpp|       |Loop               |99[5]|\r\n" + Dashes(68) + "\r\n\r\n";
  EXPECT_EQ(CallStackSection(options, input), expected);
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.front(), 7027);
  EXPECT_EQ(codes.back(), 7040);

  // Package frames shown, procedure lines not: the long class widens its
  // column and the line column keeps its header's width.
  options.SetStackFlags(TStackFlags{skPackageFrames});
  const std::string text = CallStackSection(options, input);
  EXPECT_NE(text.find("|00409999|app.exe|pkg       |TPkgClassWithAVeryLongName|Hidden          |    |\r\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("kernel32"), std::string::npos);
}

TEST(CallStackSection, NoEntries) {
  TRuzadaModuleOptions options("app.exe", false);
  TRuzadaStackList list;
  const std::string dashes = Dashes(8 + 6 + 4 + 5 + 16 + 4 + 7);
  EXPECT_EQ(CallStackSection(options, {&list, 0, nullptr, nullptr}),
            "Call Stack Information:\r\n" + dashes + "\r\n|Address |Module|Unit|Class|Procedure/Method|Line|\r\n" +
                dashes + "\r\n" + dashes + "\r\n\r\n");
}

TEST(ModulesSection, HandleColumnFollowsItsHeaderAndRootsKeepTheirBackslash) {
  TRuzadaModuleOptions options("app.exe", false);
  options.SetLogFlags(TLogFlags{lfModulesSection});
  options.SetText(kTextModulesHandle, "Module Handle");
  const double modified = DateTimeToSerial({2026, 1, 2, 3, 4, 5});
  const std::vector<ModuleRow> rows = {
      {0x00400000, "C:\\app\\bin\\app.exe", "The app", "1.2.3.4", 73728, modified},
      {0x6A000000, "C:\\boot.dll", "", "", 4096, 0},
  };
  // Widths 13, 8, 11, 7, 5, 19, 10: Z = 73.
  const std::string dashes = Dashes(81);
  EXPECT_EQ(ModulesSection(options, rows),
            "Modules Information:\r\n" + dashes +
                "\r\n"
                "|Module Handle|Name    |Description|Version|Size |Modified           |Path      |\r\n" +
                dashes +
                "\r\n"
                "|0000000400000|app.exe |The app    |1.2.3.4|73728|2026-01-02 03:04:05|C:\\app\\bin|\r\n"
                "|000006A000000|boot.dll|           |       |4096 |                   |C:\\       |\r\n" +
                dashes + "\r\n\r\n");

  options.SetLogFlags(TLogFlags{});
  EXPECT_EQ(ModulesSection(options, rows), "Modules Information:\r\n" + Dashes(20) + "\r\n\r\n");
}

TEST(ModulesSection, Folders) {
  EXPECT_EQ(ModuleFolder("C:\\a\\b.dll"), "C:\\a");
  EXPECT_EQ(ModuleFolder("C:\\b.dll"), "C:\\");
  EXPECT_EQ(ModuleFolder("b.dll"), "");
  EXPECT_EQ(ModuleFolder("\\\\server\\share\\b.dll"), "\\\\server\\share");
}

TEST(CpuSection, WithoutContextOrReadableMemory) {
  TRuzadaModuleOptions options("app.exe", false);
  options.SetLogFlags(TLogFlags{lfCpuSection});
  const std::string unknown = "????    ";
  EXPECT_EQ(CpuSection(options, {}), "Registers:\r\n" + Dashes(29) + "\r\nEAX: " + unknown + "   EDI: " + unknown +
                                         "\r\nEBX: " + unknown + "   ESI: " + unknown + "\r\nECX: " + unknown +
                                         "   ESP: " + unknown + "\r\nEDX: " + unknown + "   EIP: " + unknown +
                                         "\r\n\r\nStack:               Memory Dump:\r\n" + Dashes(18) + "   " +
                                         Dashes(75) + "\r\n");
  options.SetLogFlags(TLogFlags{});
  EXPECT_EQ(CpuSection(options, {}), "Registers:\r\n" + Dashes(10) + "\r\n\r\n");
}

TEST(CpuSection, RegistersAndDumpLines) {
  TRuzadaModuleOptions options("app.exe", false);
  options.SetLogFlags(TLogFlags{lfCpuSection});
  CpuInput input;
  input.registers = CpuRegisters{1, 2, 3, 4, 5, 6, 0x0012FF00, 0x00401234};
  input.stack_pointer = 0x0012FF00;
  input.address = 0x00401234;
  input.stack.emplace();
  input.code.emplace();
  for (std::size_t i = 0; i < 64; ++i) (*input.stack)[i] = static_cast<std::uint8_t>(i);
  for (std::size_t i = 0; i < 256; ++i) (*input.code)[i] = static_cast<std::uint8_t>(i);
  const std::string text = CpuSection(options, input);
  EXPECT_NE(text.find("EAX: 00000001   EDI: 00000006\r\nEBX: 00000002   ESI: 00000005\r\n"
                      "ECX: 00000003   ESP: 0012FF00\r\nEDX: 00000004   EIP: 00401234\r\n"),
            std::string::npos);
  const std::string line0 =
      "0012FF00: 03020100   00401234: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  ................\r\n";
  const std::string line2 =
      "0012FF08: 0B0A0908   00401254: 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F   !\"#$%&'()*+,-./\r\n";
  const std::string line7 =
      "0012FF1C: 1F1E1D1C   004012A4: 70 71 72 73 74 75 76 77 78 79 7A 7B 7C 7D 7E 7F  pqrstuvwxyz{|}~.\r\n";
  EXPECT_EQ(line0.size(), 98U);
  const std::size_t dump = text.find(line0);
  ASSERT_NE(dump, std::string::npos) << text;
  EXPECT_NE(text.find(line2), std::string::npos);
  EXPECT_NE(text.find(line7), std::string::npos);
  EXPECT_EQ(text.size() - dump, 16 * 98U) << "16 lines of 96 characters end the section";
}

}  // namespace
}  // namespace vellum::exceptlog
