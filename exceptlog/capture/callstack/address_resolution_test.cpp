#include "exceptlog/capture/callstack/address_resolution.h"

#include <gtest/gtest.h>

#include "exceptlog/capture/debugdata/line_table_writer.h"
#include "exceptlog/common/binary/testing/fake_memory_test_support.h"

namespace vellum::exceptlog {
namespace {

constexpr std::uint32_t kHandle = 0x10000000;

TEST(AddressResolution, ExportRangeNamesTheAddressElseOnlyTheModule) {
  testing::FakeMemory memory;
  auto module = std::make_shared<TRuzadaModuleInfo>();
  module->Functions.Add({"@Unit@TThing@Work$qqrv", 0x1000, 0x40});
  module->Functions.Add({"Helper", 0x2000, 0x10});
  module->Functions.Add({"?Decorated@@YAXXZ", 0x3000, 0x10});
  module->Functions.SortByAddress();

  TRuzadaDebugInfo entry;
  entry.Address = 0x1020;
  entry.ThreadId = 7;
  ResolveInModule(entry, module, memory);
  EXPECT_EQ(entry.Kind, dkExportedUnit);
  EXPECT_EQ(entry.Module, module);
  EXPECT_EQ(entry.UnitName, "Unit.pas");
  EXPECT_EQ(entry.ClassName, "TThing");
  EXPECT_EQ(entry.ProcedureName, "Work");
  EXPECT_EQ(entry.ThreadId, 7u);

  entry = {};
  entry.Address = 0x2004;
  ResolveInModule(entry, module, memory);
  EXPECT_EQ(entry.Kind, dkExportedName);
  EXPECT_EQ(entry.ProcedureName, "Helper");

  entry = {};
  entry.Address = 0x3004;
  ResolveInModule(entry, module, memory);
  EXPECT_EQ(entry.Kind, dkModule) << "another compiler's decorated name is not used";

  entry = {};
  entry.Address = 0x1800;
  ResolveInModule(entry, module, memory);
  EXPECT_EQ(entry.Kind, dkModule);
  EXPECT_TRUE(entry.ProcedureName.empty());

  // An address above 4 GB whose low half falls on Work is not Work.
  entry = {};
  entry.Address = 0x100001020ull;
  ResolveInModule(entry, module, memory);
  EXPECT_EQ(entry.Kind, dkModule);
  EXPECT_TRUE(entry.ProcedureName.empty());

  entry = {};
  entry.Address = 0x1800;
  ResolveInModule(entry, nullptr, memory);
  EXPECT_EQ(entry.Kind, dkHidden);
  EXPECT_EQ(entry.Module, nullptr);
}

TEST(AddressResolution, DebugDataComesBeforeExports) {
  testing::FakeMemory memory;
  memory.Map(kHandle, 0x3000);
  // Procedure code starts with the frame prologue, as compiled code does.
  memory.Write(kHandle + 0x1000, {0x55, 0x8B, 0xEC});
  memory.Write(kHandle + 0x1100, {0x55, 0x8B, 0xEC});

  LineTableSource source;
  source.UnitNames = {"engine.cpp"};
  source.Procedures = {{"TEngine", "Start", 10}, {"", "Helper", 40}};
  source.Ranges = {{0x000, 0x20, 10, 0, 0}, {0x020, 0x30, 12, 0, 0}, {0x100, 0x10, 40, 0, 1}};
  const BlockCipher cipher(std::string{});
  const CodeBytesReader code = [&](std::uint32_t offset, std::span<std::uint8_t> out) {
    return memory.Read(kHandle + kDebugCodeBase + offset, out.data(), static_cast<std::uint32_t>(out.size()));
  };

  auto module = std::make_shared<TRuzadaModuleInfo>();
  module->Handle = kHandle;
  module->Key = cipher.Key();
  module->SetDebugData(WriteDebugData(source, kOwnBlockVersion, cipher, code));
  module->Functions.Add({"Exported", kHandle + 0x1000, 0x200});

  TRuzadaDebugInfo entry;
  entry.Address = kHandle + 0x1000 + 0x24;
  ResolveInModule(entry, module, memory);
  EXPECT_EQ(entry.Kind, dkDebugData);
  EXPECT_EQ(entry.UnitName, "engine.cpp");
  EXPECT_EQ(entry.ClassName, "TEngine");
  EXPECT_EQ(entry.ProcedureName, "Start");
  EXPECT_EQ(entry.Line, 12u);
  EXPECT_EQ(entry.ProcedureLine, 2u);

  // Between the units' code ranges: the export decides.
  entry = {};
  entry.Address = kHandle + 0x1000 + 0x80;
  ResolveInModule(entry, module, memory);
  EXPECT_EQ(entry.Kind, dkExportedName);
  EXPECT_EQ(entry.ProcedureName, "Exported");

  // Below the module's code base nothing is looked up in the debug data.
  entry = {};
  entry.Address = kHandle + 0x10;
  ResolveInModule(entry, module, memory);
  EXPECT_EQ(entry.Kind, dkModule);
}

TEST(StackPostProcessing, RepeatedAddressesOfAModuleAreShownOnce) {
  auto a = std::make_shared<TRuzadaModuleInfo>();
  auto b = std::make_shared<TRuzadaModuleInfo>();
  TRuzadaStackList list;
  auto add = [&](std::uint8_t kind, std::shared_ptr<TRuzadaModuleInfo> module, std::uint32_t address) {
    TRuzadaDebugInfo entry;
    entry.Kind = kind;
    entry.Module = std::move(module);
    entry.Address = address;
    list.Add(entry);
  };
  add(dkDebugData, a, 0x10);     // 0: before the new entries, kept
  add(dkDebugData, a, 0x10);     // 1: same address two named entries later -> hidden
  add(dkExportedName, b, 0x10);  // 2: other module, does not count
  add(dkModule, a, 0x10);        // 3: unnamed, does not count
  add(dkExportedUnit, a, 0x20);  // 4
  add(dkDebugData, a, 0x10);     // 5: the next-but-one named entry of module a after 1
  add(dkDebugData, a, 0x30);     // 6
  add(dkDebugData, a, 0x40);     // 7
  add(dkDebugData, a, 0x30);     // 8: hides 6 once 7 is hidden and no longer counts
  add(dkDebugData, a, 0x40);     // 9: the next-but-one after 7 -> hides 7
  HideRepeatedEntries(list, 1);
  std::vector<int> kinds;
  for (const TRuzadaDebugInfo& entry : list.Entries()) kinds.push_back(entry.Kind);
  EXPECT_EQ(kinds, (std::vector<int>{dkDebugData, dkHidden, dkExportedName, dkModule, dkExportedUnit, dkDebugData,
                                     dkHidden, dkHidden, dkDebugData, dkDebugData}));
  // Three named entries of the module in between: no longer a repeat.
  TRuzadaStackList far;
  for (std::uint32_t address : {0x10u, 0x20u, 0x30u, 0x10u}) {
    TRuzadaDebugInfo entry;
    entry.Kind = dkDebugData;
    entry.Module = a;
    entry.Address = address;
    far.Add(entry);
  }
  HideRepeatedEntries(far, 0);
  EXPECT_EQ(far.Items(0).Kind, dkDebugData);
}

}  // namespace
}  // namespace vellum::exceptlog
