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

TRuzadaDebugInfo Entry(std::uint8_t kind, std::uint32_t thread, bool live, std::uint64_t address,
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

// A 64-bit process: the address column holds 16 digits, whatever its header,
// and the other columns still follow their widest cell.
TEST(CallStackSection, SixtyFourBitAddressesAboveFourGigabytes) {
  const auto band = Module("C:\\band\\VellumDeskBand.dll");
  TRuzadaStackList list;
  list.Add(Entry(dkDebugData, 7, true, 0x000000016B403090, band, "band.cpp", "TBand", "Raise", 40, 2));
  list.Add(Entry(dkExportedName, 7, true, 0x00007FFB12345678, Module("C:\\w\\ntdll.dll"), "", "", "Start", 0, 0));
  TRuzadaModuleOptions options("band.dll", false);
  options.SetStackFlags(TStackFlags{skLibraryFrames});
  CallStackInput input{&list, 0, nullptr, nullptr, AddressWidth::k64Bit};
  const std::string dashes = Dashes(16 + 18 + 8 + 5 + 16 + 4 + 7);
  EXPECT_EQ(CallStackSection(options, input),
            "Call Stack Information:\r\n" + dashes +
                "\r\n|Address         |Module            |Unit    |Class|Procedure/Method|Line|\r\n" + dashes + "\r\n" +
                Wide(" Exception Thread: ID=7; Priority=??; Class=", dashes.size() - 2) + "|" +
                Dashes(dashes.size() - 2) +
                "|\r\n"
                "|000000016B403090|VellumDeskBand.dll|band.cpp|TBand|Raise           |40  |\r\n"
                "|00007FFB12345678|ntdll.dll         |        |     |Start           |    |\r\n" +
                dashes + "\r\n\r\n");

  // The same entry in a 32-bit report keeps its 8 digits: the capture's
  // sums wrap as the process's do.
  EXPECT_EQ(StackEntryCells(list.Items(0), false, AddressWidth::k32Bit)[0], "6B403090");
  EXPECT_EQ(StackEntryCells(list.Items(0), false, AddressWidth::k64Bit)[0], "000000016B403090");
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
  EXPECT_EQ(ModulesSection(options, rows, AddressWidth::k32Bit),
            "Modules Information:\r\n" + dashes +
                "\r\n"
                "|Module Handle|Name    |Description|Version|Size |Modified           |Path      |\r\n" +
                dashes +
                "\r\n"
                "|0000000400000|app.exe |The app    |1.2.3.4|73728|2026-01-02 03:04:05|C:\\app\\bin|\r\n"
                "|000006A000000|boot.dll|           |       |4096 |                   |C:\\       |\r\n" +
                dashes + "\r\n\r\n");

  options.SetLogFlags(TLogFlags{});
  EXPECT_EQ(ModulesSection(options, rows, AddressWidth::k32Bit), "Modules Information:\r\n" + Dashes(20) + "\r\n\r\n");
}

TEST(ModulesSection, SixtyFourBitHandles) {
  TRuzadaModuleOptions options("band.dll", false);
  options.SetLogFlags(TLogFlags{lfModulesSection});
  const std::vector<ModuleRow> rows = {
      {0x000000016B400000, "C:\\band\\VellumDeskBand.dll", "Band", "5.0.4.0", 1048576, 0},
      {0x00007FFB12340000, "C:\\w\\ntdll.dll", "", "", 2048, 0},
      {0x0000000000400000, "C:\\a.exe", "", "", 1, 0},
  };
  const std::string text = ModulesSection(options, rows, AddressWidth::k64Bit);
  EXPECT_NE(text.find("\r\n|000000016B400000|VellumDeskBand.dll|Band       |5.0.4.0|1048576|"), std::string::npos)
      << text;
  EXPECT_NE(text.find("\r\n|00007FFB12340000|ntdll.dll         |"), std::string::npos);
  EXPECT_NE(text.find("\r\n|0000000000400000|a.exe             |"), std::string::npos);
  // Every line of the table is as wide as the dash lines.
  const std::size_t first = text.find("\r\n") + 2;
  const std::size_t width = text.find("\r\n", first) - first;
  for (std::size_t at = first; at < text.size() - 4; at = text.find("\r\n", at) + 2) {
    EXPECT_EQ(text.find("\r\n", at) - at, width) << text.substr(at, 40);
  }
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

TEST(CpuSection, SixtyFourBitRegistersAndEightByteStackWords) {
  TRuzadaModuleOptions options("band.dll", false);
  options.SetLogFlags(TLogFlags{lfCpuSection});
  CpuInput input;
  input.address_width = AddressWidth::k64Bit;
  const std::string unknown = "????            ";
  const std::string empty_registers =
      "Registers:\r\n" + Dashes(48) + "\r\nRAX: " + unknown + "   R8:     " + unknown + "\r\nRBX: " + unknown +
      "   R9:     " + unknown + "\r\nRCX: " + unknown + "   R10:    " + unknown + "\r\nRDX: " + unknown +
      "   R11:    " + unknown + "\r\nRSI: " + unknown + "   R12:    " + unknown + "\r\nRDI: " + unknown +
      "   R13:    " + unknown + "\r\nRBP: " + unknown + "   R14:    " + unknown + "\r\nRSP: " + unknown +
      "   R15:    " + unknown + "\r\nRIP: " + unknown + "   EFLAGS: ????    \r\n";
  EXPECT_EQ(CpuSection(options, input), empty_registers + "\r\nStack:" + std::string(31, ' ') + "Memory Dump:\r\n" +
                                            Dashes(34) + "   " + Dashes(83) + "\r\n");

  CpuRegisters64 registers;
  registers.rax = 0x1122334455667788;
  registers.r8 = 8;
  registers.r15 = 0xFFFFFFFFFFFFFFFF;
  registers.rsp = 0x00000000001FFE00;
  registers.rip = 0x000000016B403090;
  registers.eflags = 0x246;
  input.registers = registers;
  input.stack_pointer = registers.rsp;
  input.address = registers.rip;
  input.stack.emplace();
  input.code.emplace();
  for (std::size_t i = 0; i < kStackDumpBytes; ++i) (*input.stack)[i] = static_cast<std::uint8_t>(i);
  for (std::size_t i = 0; i < 256; ++i) (*input.code)[i] = static_cast<std::uint8_t>(i);
  const std::string text = CpuSection(options, input);
  EXPECT_EQ(text.find("Registers:\r\n" + Dashes(48) + "\r\nRAX: 1122334455667788   R8:     0000000000000008\r\n"), 0u)
      << text;
  EXPECT_NE(text.find("\r\nRSP: 00000000001FFE00   R15:    FFFFFFFFFFFFFFFF\r\n"
                      "RIP: 000000016B403090   EFLAGS: 00000246\r\n\r\n"),
            std::string::npos);
  const std::string line0 =
      "00000000001FFE00: 0706050403020100   000000016B403090: "
      "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  ................\r\n";
  const std::string line15 =
      "00000000001FFE78: 7F7E7D7C7B7A7978   000000016B403180: "
      "F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF  ................\r\n";
  EXPECT_EQ(line0.size(), 34 + 3 + 83 + 2U);
  const std::size_t dump = text.find(line0);
  ASSERT_NE(dump, std::string::npos) << text;
  EXPECT_EQ(text.size() - dump, 16 * line0.size());
  EXPECT_EQ(text.substr(text.size() - line15.size()), line15);

  CpuInput mixed = input;
  mixed.registers = CpuRegisters{};
  EXPECT_THROW(CpuSection(options, mixed), EReportLayoutError);
}

}  // namespace
}  // namespace vellum::exceptlog
