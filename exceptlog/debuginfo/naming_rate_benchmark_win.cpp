// Costs of a report's call stacks, under Wine, in a 32-bit or a 64-bit
// process (addresses and stack words are the process's own):
// - scanning and naming a 100 KB stack (the bound for one thread), with the
//   module list already filled (a second report) and empty (the first); a
//   64-bit report scans where its modules' unwind data runs out, and the
//   walk itself is measured with real threads by report_benchmark;
// - how many code addresses of a DLL its stored line tables name, against
//   DbgHelp reading the same code's DWARF (SymFromAddr and
//   SymGetLineFromAddr64), and what a lookup costs in each. The stored
//   block is made here from the DLL's own DWARF, as the build tool makes
//   the product's, and appended to a copy of it. Wine's DbgHelp reads DWARF
//   4 only (the product's DWARF 5 reads as nothing), so the DLL is
//   callstack_rate_sample, built with DWARF 4; VELLUM_RATE_DLL names
//   another.
#define CATCH_CONFIG_MAIN
#include <catch2/catch.hpp>
// clang-format off
#include <windows.h>
#include <dbghelp.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "exceptlog/capture/callstack/loaded_image.h"
#include "exceptlog/capture/callstack/stack_scan.h"
#include "exceptlog/capture/callstack/win/modules_list_win.h"
#include "exceptlog/capture/callstack/win/process_address_win.h"
#include "exceptlog/capture/callstack/win/process_memory_win.h"
#include "exceptlog/capture/callstack/win/process_stack_win.h"
#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"
#include "exceptlog/capture/debugdata/debug_data.h"
#include "exceptlog/capture/debugdata/debug_data_index.h"
#include "exceptlog/capture/debugdata/line_table_writer.h"
#include "exceptlog/capture/debugdata/stored_block_writer.h"
#include "exceptlog/common/binary/pe_file.h"
#include "exceptlog/debuginfo/dwarf_reader.h"
#include "exceptlog/debuginfo/line_source_builder.h"
#include "exceptlog/debuginfo/stamp.h"

using namespace vellum::exceptlog;

namespace {

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

std::string PathFromEnvironment(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

// 100 KB of stack: the words of this thread's real stack (return addresses
// into this program, the C runtime and the system DLLs among data), repeated.
std::vector<std::uintptr_t> RealisticStack() {
  const std::uintptr_t position = CurrentStackPointer();
  const std::size_t used = std::min<std::size_t>(CurrentStackBase() - position, 16384);
  std::vector<std::uintptr_t> live(used / sizeof(std::uintptr_t));
  std::memcpy(live.data(), ToPointer(position), live.size() * sizeof(std::uintptr_t));
  std::vector<std::uintptr_t> stack(kMaxScannedStackBytes / sizeof(std::uintptr_t));
  for (std::size_t i = 0; i < stack.size(); ++i) stack[i] = live[i % live.size()];
  return stack;
}

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::span<const std::uint8_t> Section(const PeFile& image, const char* name) {
  const PeSectionHeader* section = image.FindSection(name);
  return section != nullptr ? image.SectionData(*section) : std::span<const std::uint8_t>{};
}

// A copy of `dll` in the temporary folder with a stored block appended whose
// line tables come from the DLL's DWARF; empty when it has none.
std::string StampedCopy(const std::string& dll) {
  const PeFile image(FileBytes(dll));
  const PeSectionHeader* text = image.FindSection(".text");
  if (text == nullptr || Section(image, ".debug_line").empty()) return {};
  const DwarfInfo dwarf = ReadDwarf(DwarfSections{
      Section(image, ".debug_info"), Section(image, ".debug_abbrev"), Section(image, ".debug_line"),
      Section(image, ".debug_str"), Section(image, ".debug_line_str"), Section(image, ".debug_ranges"),
      Section(image, ".debug_rnglists"), Section(image, ".debug_addr"), Section(image, ".debug_str_offsets")});
  const CodeBounds bounds = CodeBoundsOf(image);
  StoredBlockContents contents;
  contents.DebugData = WriteDebugData(BuildLineTableSource(dwarf, bounds), contents.BlockVersion,
                                      vellum::exceptlog::BlockCipher(std::string()), CodeOf(image));
  TRuzadaModuleOptions options(std::string(), false);
  vellum::MemoryStream saved;
  options.SaveToStream(saved);
  contents.OptionsStream = saved.Bytes();

  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  const std::string copy = std::string(folder) + "callstack_rate_" + std::to_string(GetCurrentProcessId()) + ".dll";
  if (!CopyFileA(dll.c_str(), copy.c_str(), FALSE)) return {};
  const std::vector<std::uint8_t> block = WriteAppendedStoredBlock(contents);
  std::ofstream(copy, std::ios::binary | std::ios::app)
      .write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
  return copy;
}

}  // namespace

TEST_CASE("scan and name a 100 KB stack") {
  const std::vector<std::uintptr_t> stack = RealisticStack();
  const std::uint64_t begin = ToAddress(stack.data());
  const std::uint64_t end = begin + stack.size() * sizeof(std::uintptr_t);
  TRuzadaModulesList modules;
  const auto first = BuildStack(modules, 0, begin, end, true, GetCurrentThreadId());
  int named = 0;
  for (const TRuzadaDebugInfo& entry : first->Entries()) named += entry.Kind != dkHidden;
  ProcessMemoryReader counting;
  ScanStack(counting, {0, begin, end, kThisProcessBits}, [](std::uint64_t) {});
  std::printf("100 KB stack of %zu-byte words: %d entries (%d shown), %d modules, %d memory queries for the scan\n",
              sizeof(std::uintptr_t), first->Count(), named, modules.Count(), counting.Queries());

  BENCHMARK("scan only") {
    ProcessMemoryReader memory;
    int found = 0;
    ScanStack(memory, {0, begin, end, kThisProcessBits}, [&](std::uint64_t) { ++found; });
    return found;
  };
  BENCHMARK("scan and name, module list filled") {
    return BuildStack(modules, 0, begin, end, true, GetCurrentThreadId())->Count();
  };
  BENCHMARK("scan and name, module list empty") {
    TRuzadaModulesList fresh;
    return BuildStack(fresh, 0, begin, end, true, GetCurrentThreadId())->Count();
  };
}

TEST_CASE("naming rate against DbgHelp") {
  const std::string original =
      PathFromEnvironment("VELLUM_RATE_DLL", ProgramFolder() + "..\\bin\\callstack_rate_sample.dll");
  const std::string stamped = StampedCopy(original);
  if (stamped.empty()) {
    WARN("no DWARF line information in " << original << "; the naming rate is not measured");
    return;
  }
  HMODULE module = LoadLibraryA(stamped.c_str());
  REQUIRE(module != nullptr);
  TRuzadaModulesList modules;
  const auto record = modules.FindOrCreate(module);
  REQUIRE(record != nullptr);
  REQUIRE(record->HasDebugData());
  ProcessMemoryReader memory;
  const auto layout = ReadPeLayout(memory, ToAddress(module), kThisProcessBits);
  REQUIRE(layout);

  HANDLE process = GetCurrentProcess();
  SymSetOptions(SYMOPT_LOAD_LINES | SYMOPT_UNDNAME);
  REQUIRE(SymInitialize(process, nullptr, FALSE));
  const DWORD64 loaded = SymLoadModuleEx(process, nullptr, original.c_str(), nullptr, ToAddress(module),
                                         layout->size_of_image, nullptr, 0);
  if (loaded == 0) {
    WARN("DbgHelp cannot load " << original);
    SymCleanup(process);
    return;
  }

  // Evenly spread addresses over the code section, at most 20000 of them.
  std::vector<std::uint64_t> addresses;
  const std::uint64_t step = std::max<std::uint64_t>(16, (layout->code_end - layout->code_start) / 20000);
  for (std::uint64_t at = layout->code_start; at < layout->code_end; at += step) addresses.push_back(at);

  // Each address is named into one list, as a report names all of its
  // addresses into its own: what is measured is the naming, not making a
  // list for every address.
  TRuzadaStackList named;
  auto ours = [&](std::uint64_t address, TRuzadaDebugInfo& entry) {
    entry = {};
    entry.Address = address;
    named.Clear();
    AddStack(named, modules, address, 0, 0, true, 0);
    if (named.Count() == 1) entry = std::move(named.Items(0));
    return entry.Kind == dkDebugData;
  };
  struct alignas(SYMBOL_INFO) SymbolBuffer {
    char bytes[sizeof(SYMBOL_INFO) + MAX_SYM_NAME];
  };
  auto theirs = [&](std::uint64_t address, DWORD& line) {
    SymbolBuffer buffer{};
    auto* symbol = reinterpret_cast<SYMBOL_INFO*>(buffer.bytes);
    symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol->MaxNameLen = MAX_SYM_NAME;
    DWORD64 displacement = 0;
    IMAGEHLP_LINE64 line_info{};
    line_info.SizeOfStruct = sizeof line_info;
    DWORD line_displacement = 0;
    if (!SymFromAddr(process, address, &displacement, symbol)) return false;
    if (!SymGetLineFromAddr64(process, address, &line_displacement, &line_info)) return false;
    line = line_info.LineNumber;
    return true;
  };

  int by_ours = 0, by_dbghelp = 0, by_both = 0, same_line = 0;
  for (std::uint64_t address : addresses) {
    TRuzadaDebugInfo entry;
    DWORD line = 0;
    const bool a = ours(address, entry);
    const bool b = theirs(address, line);
    by_ours += a;
    by_dbghelp += b;
    by_both += a && b;
    same_line += a && b && entry.Line == line;
  }
  std::printf(
      "code of %s at %llX: %zu addresses; named with line by the stored block %d, by DbgHelp %d, by both %d "
      "(same line %d); rate %.3f\n",
      original.c_str(), static_cast<unsigned long long>(ToAddress(module)), addresses.size(), by_ours, by_dbghelp,
      by_both, same_line, by_dbghelp == 0 ? 0.0 : static_cast<double>(by_ours) / by_dbghelp);

  const std::vector<std::uint64_t> sample(addresses.begin(),
                                          addresses.begin() + std::min<std::size_t>(1000, addresses.size()));
  // The speed ratio itself, from one timed pass of each: over the sample
  // the timings below use, and over the addresses both name (DbgHelp gives
  // up quickly on code it cannot name, which flatters its average).
  std::vector<std::uint64_t> both;
  for (std::uint64_t address : addresses) {
    TRuzadaDebugInfo entry;
    DWORD line = 0;
    if (ours(address, entry) && theirs(address, line)) both.push_back(address);
  }
  for (const auto& [name, set] :
       {std::pair{"the sample", &sample},
        std::pair{"addresses both name", static_cast<const std::vector<std::uint64_t>*>(&both)}}) {
    LARGE_INTEGER frequency, start, middle, end;
    QueryPerformanceFrequency(&frequency);
    int named = 0;
    QueryPerformanceCounter(&start);
    TRuzadaDebugInfo entry;
    for (std::uint64_t address : *set) named += ours(address, entry);
    QueryPerformanceCounter(&middle);
    DWORD line = 0;
    for (std::uint64_t address : *set) named += theirs(address, line);
    QueryPerformanceCounter(&end);
    const auto micro = [&](LONGLONG ticks) {
      return static_cast<double>(ticks) * 1e6 / static_cast<double>(frequency.QuadPart) /
             static_cast<double>(std::max<std::size_t>(1, set->size()));
    };
    const double per_ours = micro(middle.QuadPart - start.QuadPart);
    const double per_theirs = micro(end.QuadPart - middle.QuadPart);
    std::printf("naming one address of %s (%zu): stored block %.2f us, DbgHelp %.2f us; ratio %.1f (%d named)\n", name,
                set->size(), per_ours, per_theirs, per_theirs / per_ours, named);
  }

  BENCHMARK("1000 addresses named by the stored block") {
    int named = 0;
    TRuzadaDebugInfo entry;
    for (std::uint64_t address : sample) named += ours(address, entry);
    return named;
  };
  // Where a lookup's time goes: finding the module, asking about the
  // memory, and the line table.
  BENCHMARK("1000 addresses: module of the address only") {
    int found = 0;
    for (std::uint64_t address : sample) found += modules.FindByAddress(address) != nullptr;
    return found;
  };
  BENCHMARK("1000 addresses: line table only, one memory reader") {
    int named = 0;
    const std::uint64_t code_base = record->Handle + kDebugCodeBase;
    ProcessMemoryReader shared;
    const CodeBytesReader code = [&](std::uint32_t offset, std::span<std::uint8_t> out) {
      return shared.Read(code_base + offset, out.data(), static_cast<std::uint32_t>(out.size()));
    };
    for (std::uint64_t address : sample)
      named += record->DebugIndex()->LookUp(static_cast<std::uint32_t>(address - code_base), code).has_value();
    return named;
  };
  BENCHMARK("1000 addresses: a new memory reader asked once each") {
    int readable = 0;
    for (std::uint64_t address : sample) {
      ProcessMemoryReader fresh;
      readable += fresh.IsReadable(address, 1);
    }
    return readable;
  };
  BENCHMARK("1000 addresses named by DbgHelp") {
    int named = 0;
    DWORD line = 0;
    for (std::uint64_t address : sample) named += theirs(address, line);
    return named;
  };
  SymCleanup(process);
  FreeLibrary(module);
  DeleteFileA(stamped.c_str());
}
