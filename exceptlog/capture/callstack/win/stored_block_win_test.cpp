// Modules that carry a stored block: copies of the probe DLLs given one at
// test time, appended to the file or as an "ELDATA" resource, with options
// and line tables for the probe's call chain.
#include <windows.h>
#include <gtest/gtest.h>

#include "exceptlog/capture/callstack/testing/win/module_test_support_win.h"
#include "exceptlog/capture/callstack/testing/win/probe_code_win.h"
#include "exceptlog/capture/callstack/win/module_record_win.h"
#include "exceptlog/capture/callstack/win/modules_list_win.h"
#include "exceptlog/capture/callstack/win/process_stack_win.h"
#include "exceptlog/capture/callstack/win/thread_bookkeeping_win.h"
#include "exceptlog/capture/debugdata/line_table_writer.h"
#include "exceptlog/capture/debugdata/stored_block_writer.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {
namespace {

using testing::AddressOf;
using testing::ExportAddress;
using testing::kProbeCode;

constexpr double kCompileDate = 46000.5;
constexpr char kPassword[] = "probe-secret";  // what the probe's handler answers

struct ChainProcedure {
  const char* export_name;
  const char* class_name;
  const char* name;
  std::uint32_t first_line;
  std::uint32_t size;
};
constexpr ChainProcedure kChain[] = {
    {"ChainOuter", "TChain", "Outer", 100, kProbeCode.chain_lengths[0]},
    {"ChainMiddle", "TChain", "Middle", 200, kProbeCode.chain_lengths[1]},
    {"ChainInner", "", "Inner", 300, kProbeCode.chain_lengths[2]},
};

// Line tables for the chain of `module`: each procedure's first line until
// its call, the next line from the call on.
std::vector<std::uint8_t> ChainDebugData(HMODULE module, std::uint16_t version, const std::string& password) {
  const std::uint64_t code_base = AddressOf(module) + kDebugCodeBase;
  LineTableSource source;
  source.UnitNames = {"probe_chain.cpp"};
  for (const ChainProcedure& procedure : kChain) {
    const std::uint32_t start = ExportAddress(module, procedure.export_name) - code_base;
    const auto index = static_cast<std::uint32_t>(source.Procedures.size());
    source.Procedures.push_back({procedure.class_name, procedure.name, procedure.first_line});
    source.Ranges.push_back({start, kProbeCode.chain_call, procedure.first_line, 0, index});
    source.Ranges.push_back(
        {start + kProbeCode.chain_call, procedure.size - kProbeCode.chain_call, procedure.first_line + 1, 0, index});
  }
  const CodeBytesReader code = [&](std::uint32_t offset, std::span<std::uint8_t> out) {
    std::memcpy(out.data(), reinterpret_cast<const void*>(static_cast<std::uintptr_t>(code_base + offset)), out.size());
    return true;
  };
  return WriteDebugData(source, version, BlockCipher(password), code);
}

std::vector<std::uint8_t> OptionsWithServer(const std::string& server) {
  TRuzadaModuleOptions options("", false);
  options.SetSmtpServer(server);
  MemoryStream stream;
  options.SaveToStream(stream);
  return stream.Bytes();
}

StoredBlockContents ChainBlock(const char* dll, const std::string& password) {
  win::UniqueModule original(LoadLibraryA(dll));
  EXPECT_TRUE(original);
  StoredBlockContents contents;
  contents.BlockVersion = kOwnBlockVersion;
  contents.CompileDate = kCompileDate;
  contents.OptionsStream = OptionsWithServer("stored.probe.test");
  contents.DebugData = ChainDebugData(original.get(), contents.BlockVersion, password);
  contents.Password = password;
  return contents;
}

void AddStoredBlockResource(const std::string& file, const std::vector<std::uint8_t>& block) {
  HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
  ASSERT_NE(update, nullptr);
  ASSERT_TRUE(UpdateResourceA(update, MAKEINTRESOURCEA(10), "ELDATA", MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                              const_cast<std::uint8_t*>(block.data()), static_cast<DWORD>(block.size())));
  ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
}

using Chain = void(__cdecl*)(void (*callback)());
TRuzadaModulesList* capture_modules = nullptr;
std::unique_ptr<TRuzadaStackList> captured;
void CaptureHere() {
  captured = BuildStack(*capture_modules, 0, CurrentStackPointer(), CurrentStackBase(), true, GetCurrentThreadId());
}

// Runs the module's chain and answers the call-site entries, outer last.
std::vector<TRuzadaDebugInfo> ChainSites(TRuzadaModulesList& modules, HMODULE module) {
  capture_modules = &modules;
  reinterpret_cast<Chain>(reinterpret_cast<void*>(GetProcAddress(module, "ChainOuter")))(&CaptureHere);
  std::vector<TRuzadaDebugInfo> sites;
  for (const char* name : {"ChainInner", "ChainMiddle", "ChainOuter"}) {
    for (const TRuzadaDebugInfo& entry : captured->Entries()) {
      if (entry.Address == ExportAddress(module, name) + kProbeCode.chain_call) sites.push_back(entry);
    }
  }
  captured.reset();
  return sites;
}

TEST(StoredBlock, AppendedBlockGivesOptionsAndLinesOfTheCallChain) {
  testing::TempFolder folder;
  const std::string file = testing::CopyModule("callstack_probe.dll", folder, "appended.dll");
  testing::AppendToFile(file, WriteAppendedStoredBlock(ChainBlock("callstack_probe.dll", "")));
  win::UniqueModule module(LoadLibraryA(file.c_str()));
  ASSERT_TRUE(module);

  TRuzadaModulesList modules;
  const auto record = modules.FindOrCreate(module.get());
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->BlockVersion, kOwnBlockVersion);
  EXPECT_EQ(record->CompileDate, kCompileDate);
  EXPECT_EQ(record->Options->SmtpServer(), "stored.probe.test");
  ASSERT_TRUE(record->HasDebugData());
  EXPECT_EQ(record->PasswordOk, 1);

  const std::vector<TRuzadaDebugInfo> sites = ChainSites(modules, module.get());
  ASSERT_EQ(sites.size(), 3u);
  for (std::size_t i = 0; i < sites.size(); ++i) {
    const ChainProcedure& procedure = kChain[2 - i];
    EXPECT_EQ(sites[i].Kind, dkDebugData);
    EXPECT_EQ(sites[i].UnitName, "probe_chain.cpp");
    EXPECT_EQ(sites[i].ClassName, procedure.class_name);
    EXPECT_EQ(sites[i].ProcedureName, procedure.name);
    EXPECT_EQ(sites[i].Line, procedure.first_line + 1);
    EXPECT_EQ(sites[i].ProcedureLine, kProbeCode.classic_frame ? 1u : 2u);
  }
}

TEST(StoredBlock, ResourceBlockAsksTheModuleForItsPasswordUnlessQuick) {
  testing::TempFolder folder;
  const std::string file = testing::CopyModule("callstack_probe.dll", folder, "protected.dll");
  AddStoredBlockResource(file, WriteStoredBlock(ChainBlock("callstack_probe.dll", kPassword)));
  win::UniqueModule module(LoadLibraryA(file.c_str()));
  ASSERT_TRUE(module);
  TRuzadaModulesList modules;
  {
    const QuickEnumerationScope quick;
    const auto record = modules.FindOrCreate(module.get());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->Kind, mkUndetermined);
    EXPECT_EQ(record->Options->SmtpServer(), "stored.probe.test") << "options are read quickly too";
    EXPECT_FALSE(record->HasDebugData());
    EXPECT_EQ(record->Password, "") << "no password is asked for";
  }
  const auto record = modules.FindOrCreate(module.get());
  EXPECT_EQ(record->Kind, mkLibrary);
  EXPECT_EQ(record->Password, kPassword);
  EXPECT_EQ(record->PasswordOk, 1);
  // A module's start makes its own record: the line tables wait for the
  // first address a report names.
  EXPECT_FALSE(record->DebugDataLoaded());
  const std::vector<TRuzadaDebugInfo> sites = ChainSites(modules, module.get());
  EXPECT_TRUE(record->DebugDataLoaded());
  ASSERT_EQ(sites.size(), 3u);
  EXPECT_EQ(sites[2].ClassName, "TChain");
  EXPECT_EQ(sites[2].ProcedureName, "Outer");
  EXPECT_EQ(sites[2].UnitName, "probe_chain.cpp");
}

TEST(StoredBlock, ModuleWithoutPasswordHandlerShowsProtectedNamesAsBase64) {
  // The same protected block in the package DLL, which has no handler: its
  // line tables still give lines, its names stay unreadable.
  testing::TempFolder folder;
  const std::string probe_copy = testing::CopyModule("callstack_probe.dll", folder, "donor.dll");
  const std::string file = testing::CopyModule("callstack_package.dll", folder, "nopassword.dll");
  win::UniqueModule package(LoadLibraryA(file.c_str()));
  ASSERT_TRUE(package);
  const std::uint64_t procedure = ExportAddress(package.get(), "PackageProcedure");
  const std::uint64_t code_base = AddressOf(package.get()) + kDebugCodeBase;
  LineTableSource source;
  source.UnitNames = {"package.cpp"};
  source.Procedures = {{"TPackage", "Run", 10}};
  source.Ranges = {{static_cast<std::uint32_t>(procedure - code_base), 8, 11, 0, 0}};
  const CodeBytesReader code = [&](std::uint32_t offset, std::span<std::uint8_t> out) {
    std::memcpy(out.data(), reinterpret_cast<const void*>(static_cast<std::uintptr_t>(code_base + offset)), out.size());
    return true;
  };
  StoredBlockContents contents;
  contents.OptionsStream = OptionsWithServer("");
  contents.DebugData = WriteDebugData(source, kOwnBlockVersion, BlockCipher(kPassword), code);
  contents.Password = kPassword;
  package.reset();
  AddStoredBlockResource(file, WriteStoredBlock(contents));
  package.reset(LoadLibraryA(file.c_str()));
  ASSERT_TRUE(package);

  TRuzadaModulesList modules;
  const auto record = modules.FindOrCreate(package.get());
  EXPECT_EQ(record->Kind, mkPackage);
  EXPECT_EQ(record->Password, "");
  EXPECT_EQ(record->PasswordOk, 0);
  std::uintptr_t empty = 0;
  const auto list = BuildStack(modules, procedure + 2, AddressOf(&empty), AddressOf(&empty), true, 1);
  ASSERT_EQ(list->Count(), 1);
  const TRuzadaDebugInfo& entry = list->Items(0);
  EXPECT_EQ(entry.Kind, dkDebugData);
  EXPECT_EQ(entry.Line, 11u);
  ASSERT_FALSE(entry.ProcedureName.empty());
  EXPECT_EQ(entry.ProcedureName[0], '?');
  EXPECT_GT(entry.ProcedureName.size(), 1u);
  EXPECT_NE(entry.ProcedureName, "?Run");
}

}  // namespace
}  // namespace vellum::exceptlog
