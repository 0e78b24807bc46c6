#include "exceptlog/capture/hooking/win/numbered_symbols_win.h"

#include <windows.h>
#include <gtest/gtest.h>

#include "exceptlog/capture/debugdata/symbol_table.h"

namespace vellum::exceptlog {
namespace {

// This program carries a hand-built stored block (make_test_stored_block.py):
// number 0 at code offset 0x10, number 1 at 0x200, number 9 far outside the
// image.
TEST(NumberedSymbols, ComeFromTheModulesStoredBlock) {
  const HMODULE self = GetModuleHandleA(nullptr);
  auto* base = reinterpret_cast<std::uint8_t*>(self);
  ASSERT_FALSE(StoredBlockResource(self).empty());
  EXPECT_EQ(ReadNumberedSymbols(StoredBlockResource(self)).size(), 3u);

  EXPECT_EQ(FindNumberedProcedure(self, 0), base + 0x1000 + 0x10);
  EXPECT_EQ(FindNumberedProcedure(self, 1), base + 0x1000 + 0x200);
  EXPECT_EQ(FindNumberedProcedure(self, 9), nullptr) << "an entry pointing outside the image is ignored";
  EXPECT_EQ(FindNumberedProcedure(self, 5), nullptr);
  EXPECT_EQ(FindNumberedProcedure(nullptr, 0), nullptr);

  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  EXPECT_TRUE(StoredBlockResource(kernel).empty());
  EXPECT_EQ(FindNumberedProcedure(kernel, 0), nullptr);
}

TEST(NumberedSymbols, FallBackToTheExportOfALoadedPackage) {
  const HMODULE self = GetModuleHandleA(nullptr);
  const auto tick = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount"));
  EXPECT_EQ(LookupHookTarget(self, 5, "kernel32.dll", "GetTickCount"), tick);
  EXPECT_EQ(LookupHookTarget(self, 0, "kernel32.dll", "GetTickCount"), reinterpret_cast<std::uint8_t*>(self) + 0x1010)
      << "the number wins";
  // Packages of other runtimes are looked up, never loaded.
  EXPECT_EQ(LookupHookTarget(self, 5, "VCL70.BPL", "@Forms@TApplication@HandleException$qqrp14System@TObject"),
            nullptr);
  EXPECT_EQ(GetModuleHandleA("VCL70.BPL"), nullptr);
  EXPECT_EQ(LookupHookTarget(self, 5, nullptr, nullptr), nullptr);
}

}  // namespace
}  // namespace vellum::exceptlog
