#include "exceptlog/capture/callstack/win/modules_list_win.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "exceptlog/capture/callstack/testing/win/module_test_support_win.h"
#include "exceptlog/capture/callstack/testing/win/probe_code_win.h"
#include "exceptlog/capture/callstack/win/module_record_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {
namespace {

using testing::ExportAddress;

HMODULE Kernel32() {
  return GetModuleHandleA("kernel32.dll");
}

std::set<HMODULE> AsSet(const std::vector<HMODULE>& modules) {
  return std::set<HMODULE>(modules.begin(), modules.end());
}

bool HasFunction(const TRuzadaModuleInfo& record, const std::string& name) {
  return std::any_of(record.Functions.begin(), record.Functions.end(),
                     [&](const TRuzadaFunctionInfo& f) { return f.Name == name; });
}

TEST(ModulesList, CollectAllListsEveryModuleQuicklyThenCompletesOnDemand) {
  TRuzadaModulesList list;
  list.CollectAll();
  ASSERT_GE(list.Count(), 3);
  for (int i = 0; i < list.Count(); ++i) {
    const TRuzadaModuleInfo& record = *list.Items(i);
    EXPECT_EQ(record.Kind, mkUndetermined) << record.FileName;
    EXPECT_EQ(record.Functions.Count(), 0) << "a quick record reads no exports";
    EXPECT_FALSE(record.FileName.empty());
    ASSERT_NE(record.Options, nullptr);
    if (i > 0) {
      EXPECT_LT(list.Items(i - 1)->Handle, record.Handle) << "sorted by handle, once each";
    }
  }
  const auto quick_kernel = list.Find(Kernel32());
  ASSERT_NE(quick_kernel, nullptr);
  ASSERT_NE(list.Find(GetModuleHandleA(nullptr)), nullptr);
  ASSERT_NE(list.Find(GetModuleHandleA("ntdll.dll")), nullptr);

  const auto kernel = list.FindOrCreate(Kernel32());
  ASSERT_NE(kernel, quick_kernel) << "the quick record is replaced by a full one";
  EXPECT_EQ(list.Find(Kernel32()), kernel);
  EXPECT_EQ(kernel->Kind, mkLibrary);
  EXPECT_TRUE(HasFunction(*kernel, "GetProcAddress"));
  for (int i = 1; i < kernel->Functions.Count(); ++i) {
    ASSERT_LE(kernel->Functions.Items(i - 1).Address, kernel->Functions.Items(i).Address);
  }
  EXPECT_EQ(list.FindOrCreate(Kernel32()), kernel) << "a full record is kept";

  const auto program = list.FindOrCreate(GetModuleHandleA(nullptr));
  EXPECT_EQ(program->Kind, mkProgram);
  EXPECT_EQ(program->Functions.Count(), 0) << "the main program's exports are not read";
}

TEST(ModulesList, PsapiAndToolHelpListTheSameModules) {
  // Loaded for the whole test, so that both lists include it.
  win::UniqueModule psapi(LoadLibraryA("PSAPI.DLL"));
  std::vector<HMODULE> by_psapi;
  std::vector<HMODULE> by_tool_help;
  ASSERT_TRUE(EnumerateModulesWithPsapi(by_psapi));
  ASSERT_TRUE(EnumerateModulesWithToolHelp(by_tool_help));
  EXPECT_EQ(AsSet(by_psapi), AsSet(by_tool_help));
  EXPECT_TRUE(AsSet(by_psapi).count(Kernel32()));
}

TEST(ModulesList, RecordCarriesFileVersionKindAndExports) {
  win::UniqueModule probe(LoadLibraryA("callstack_probe.dll"));
  win::UniqueModule package(LoadLibraryA("callstack_package.dll"));
  ASSERT_TRUE(probe && package);
  TRuzadaModulesList list;

  const auto record = list.FindByAddress(ExportAddress(probe.get(), "ChainInner") + 2);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->Handle, testing::AddressOf(probe.get()));
  if constexpr (kThisProcessBits == ProcessBits::k64) {
    EXPECT_GT(record->Handle, 0xFFFFFFFFu) << "the 64-bit probe's preferred base lies above 4 GB";
  }
  EXPECT_NE(record->FileName.find("callstack_probe.dll"), std::string::npos);
  EXPECT_EQ(record->Description, "Call stack probe");
  EXPECT_EQ(record->Version, "1.2.3.4");
  EXPECT_EQ(record->Kind, mkLibrary);
  WIN32_FILE_ATTRIBUTE_DATA file{};
  ASSERT_TRUE(GetFileAttributesExA(record->FileName.c_str(), GetFileExInfoStandard, &file));
  EXPECT_EQ(record->Size, file.nFileSizeLow);
  EXPECT_NE(record->FileDate, 0.0);
  EXPECT_EQ(record->FileDate, ModuleFileDate(record->FileName));
  EXPECT_EQ(record->BlockVersion, kOwnBlockVersion) << "no stored block";
  EXPECT_FALSE(record->HasDebugData());
  EXPECT_EQ(record->PasswordOk, 1);
  EXPECT_EQ(record->Options->ModuleFileName(), record->FileName);
  // Every export, by its undecorated name in either build.
  for (const char* name : {"ChainOuter", "ChainMiddle", "ChainInner", "ThunkCaller", "@Probeunit@TProbe@Run$qqrv",
                           "DeveruVuz_PasswordRequestEvent", "ProbePublishOptions", "ProbeWithdrawOptions"}) {
    EXPECT_TRUE(HasFunction(*record, name)) << name;
  }
  for (const TRuzadaFunctionInfo& function : record->Functions) {
    if (function.Name == "ChainOuter") {
      EXPECT_EQ(function.Address, ExportAddress(probe.get(), "ChainOuter"));
      EXPECT_EQ(function.Size, testing::kProbeCode.chain_lengths[0] - 1) << "from the frame's push up to the ret";
    }
  }

  const auto package_record = list.FindOrCreate(package.get());
  EXPECT_EQ(package_record->Kind, mkPackage);
  EXPECT_EQ(package_record->Description, "");
  EXPECT_EQ(package_record->Version, "");

  int on_heap = 0;
  EXPECT_EQ(list.FindByAddress(testing::AddressOf(&on_heap)), nullptr) << "a stack address is in no module";
  EXPECT_EQ(list.Count(), 2);
}

TEST(ModulesList, ModuleWhoseFileChangedIsDroppedAndReadAgain) {
  testing::TempFolder folder;
  const std::string file = testing::CopyModule("callstack_probe.dll", folder, "changing.dll");
  win::UniqueModule module(LoadLibraryA(file.c_str()));
  ASSERT_TRUE(module);
  TRuzadaModulesList list;
  const auto kernel = list.FindOrCreate(Kernel32());
  const auto before = list.FindOrCreate(module.get());
  ASSERT_NE(before, nullptr);

  list.DropChanged();
  EXPECT_EQ(list.Find(module.get()), before) << "nothing changed yet";

  win::UniqueFileHandle handle(CreateFileA(file.c_str(), FILE_WRITE_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(handle);
  FILETIME written{};
  ASSERT_TRUE(GetFileTime(handle.get(), nullptr, nullptr, &written));
  ULARGE_INTEGER time{{written.dwLowDateTime, written.dwHighDateTime}};
  time.QuadPart += 36ULL * 3600 * 10000000;  // 36 hours later
  written = {time.LowPart, time.HighPart};
  ASSERT_TRUE(SetFileTime(handle.get(), nullptr, nullptr, &written));
  handle.reset();

  list.DropChanged();
  EXPECT_EQ(list.Find(module.get()), nullptr);
  EXPECT_EQ(list.Find(Kernel32()), kernel) << "unchanged modules stay";
  const auto after = list.FindOrCreate(module.get());
  ASSERT_NE(after, nullptr);
  EXPECT_NEAR(after->FileDate - before->FileDate, 1.5, 1e-6);
  EXPECT_EQ(after->FileDate, ModuleFileDate(file));
}

// Sets a folder's last write an hour back, as if nothing had changed in it
// for a while.
void AgeFolder(const std::string& folder) {
  win::UniqueFileHandle handle(CreateFileA(folder.c_str(), FILE_WRITE_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(handle);
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
  time.QuadPart -= 3600ULL * 10000000;
  const FILETIME written{time.LowPart, time.HighPart};
  ASSERT_TRUE(SetFileTime(handle.get(), nullptr, nullptr, &written));
}

TEST(ModulesList, ModuleWithoutItsFileIsKeptUntilAFileTakesItsName) {
  testing::TempFolder folder;
  const std::string file = testing::CopyModule("callstack_probe.dll", folder, "renamed.dll");
  win::UniqueModule module(LoadLibraryA(file.c_str()));
  ASSERT_TRUE(module);
  // A loaded module's file may be renamed; under Wine some modules have no
  // file at all.
  const std::string moved = folder.Path() + "moved.dll";
  ASSERT_TRUE(MoveFileA(file.c_str(), moved.c_str()));
  ASSERT_TRUE(CopyFileA(moved.c_str(), (folder.Path() + "other.dll").c_str(), FALSE));
  AgeFolder(folder.Path());
  TRuzadaModulesList list;
  const auto record = list.FindOrCreate(module.get());
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->FileDate, 0);
  EXPECT_NE(record->MissingFileFolderTime, 0u);

  list.DropChanged();
  EXPECT_EQ(list.Find(module.get()), record) << "still no file";
  ASSERT_TRUE(DeleteFileA((folder.Path() + "other.dll").c_str()));
  list.DropChanged();
  EXPECT_EQ(list.Find(module.get()), record) << "the folder changed, but the file is still missing";

  ASSERT_TRUE(CopyFileA(moved.c_str(), file.c_str(), FALSE));
  list.DropChanged();
  EXPECT_EQ(list.Find(module.get()), nullptr) << "a file took the module's name";
  const auto after = list.FindOrCreate(module.get());
  ASSERT_NE(after, nullptr);
  EXPECT_NE(after->FileDate, 0);
  EXPECT_EQ(after->MissingFileFolderTime, 0u);
}

TEST(ModulesList, CollectAllForgetsUnloadedModules) {
  testing::TempFolder folder;
  const std::string file = testing::CopyModule("callstack_package.dll", folder, "unloaded.dll");
  win::UniqueModule module(LoadLibraryA(file.c_str()));
  ASSERT_TRUE(module);
  HMODULE handle = module.get();
  TRuzadaModulesList list;
  list.CollectAll();
  ASSERT_NE(list.Find(handle), nullptr);
  const int count = list.Count();
  module.reset();
  list.CollectAll();
  EXPECT_EQ(list.Find(handle), nullptr);
  EXPECT_EQ(list.Count(), count - 1);
}

// A listed module's image names its addresses without asking the memory
// manager; once the module is unloaded, the report's DropUnloaded forgets
// it, and its old addresses name nothing.
TEST(ModulesList, ListedImagesNameAddressesUntilTheirModuleIsUnloaded) {
  testing::TempFolder folder;
  const std::string file = testing::CopyModule("callstack_package.dll", folder, "ranges.dll");
  win::UniqueModule module(LoadLibraryA(file.c_str()));
  ASSERT_TRUE(module);
  HMODULE handle = module.get();
  TRuzadaModulesList list;
  const auto record = list.FindOrCreate(handle);
  ASSERT_NE(record, nullptr);
  MEMORY_BASIC_INFORMATION last{};
  ASSERT_NE(VirtualQuery(reinterpret_cast<const char*>(handle) + record->ImageSize - 1, &last, sizeof last), 0u);
  EXPECT_EQ(last.AllocationBase, handle) << "the image's last byte";
  EXPECT_EQ(ModuleOfAddress(record->Handle + record->ImageSize), nullptr) << "the first byte past it";
  EXPECT_LT(record->Handle, record->CodeStart);
  EXPECT_LT(record->CodeStart, record->CodeEnd);
  EXPECT_LE(record->CodeEnd, record->Handle + record->ImageSize);
  EXPECT_EQ(list.FindInImages(record->CodeStart), record);
  EXPECT_EQ(list.FindInImages(record->Handle + record->ImageSize), nullptr);
  EXPECT_EQ(list.FindByAddress(record->CodeEnd - 1), record);

  list.DropUnloaded();
  EXPECT_EQ(list.Find(handle), record) << "still loaded";
  const std::uint64_t code = record->CodeStart;
  module.reset();
  list.DropUnloaded();
  EXPECT_EQ(list.Find(handle), nullptr);
  EXPECT_EQ(list.FindByAddress(code), nullptr);
}

TEST(ModulesList, AnotherModulesPublishedOptionsOverrideItsStoredOnes) {
  win::UniqueModule probe(LoadLibraryA("callstack_probe.dll"));
  ASSERT_TRUE(probe);
  using Publish = BOOL(__cdecl*)(const char*);
  using Withdraw = void(__cdecl*)();
  const auto publish =
      reinterpret_cast<Publish>(reinterpret_cast<void*>(GetProcAddress(probe.get(), "ProbePublishOptions")));
  const auto withdraw =
      reinterpret_cast<Withdraw>(reinterpret_cast<void*>(GetProcAddress(probe.get(), "ProbeWithdrawOptions")));
  ASSERT_TRUE(publish && withdraw);

  TRuzadaModulesList before;
  EXPECT_EQ(before.FindOrCreate(probe.get())->Options->SmtpServer(), "");
  ASSERT_TRUE(publish("mail.probe.test"));
  TRuzadaModulesList after;
  EXPECT_EQ(after.FindOrCreate(probe.get())->Options->SmtpServer(), "mail.probe.test");
  withdraw();
}

}  // namespace
}  // namespace vellum::exceptlog
