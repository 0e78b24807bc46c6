#include "exceptlog/capture/callstack/loaded_image.h"

#include <gtest/gtest.h>

#include "exceptlog/common/binary/testing/pe_image_test_support.h"

namespace vellum::exceptlog {
namespace {

using testing::FakeExport;
using testing::FakeImageLayout;
using testing::WriteFakeImage;

constexpr std::uint32_t kBase = 0x10000000;

std::vector<std::string> Names(const TRuzadaFunctionsList& list) {
  std::vector<std::string> names;
  for (const TRuzadaFunctionInfo& info : list) names.push_back(info.Name);
  return names;
}

TEST(LoadedImage, LayoutOfAnImage) {
  testing::FakeMemory memory;
  WriteFakeImage(memory, {}, {});
  const auto layout = ReadPeLayout(memory, kBase);
  ASSERT_TRUE(layout);
  EXPECT_TRUE(layout->is_dll);
  EXPECT_EQ(layout->code_start, kBase + 0x1000);
  EXPECT_EQ(layout->code_end, kBase + 0x2000);
  ASSERT_EQ(layout->sections.size(), 2u);
  EXPECT_EQ(layout->sections[1].start, 0x2000u);

  testing::FakeMemory program;
  FakeImageLayout exe;
  exe.dll = false;
  WriteFakeImage(program, exe, {});
  EXPECT_FALSE(ReadPeLayout(program, kBase)->is_dll);
}

TEST(LoadedImage, DamagedHeadersGiveNoLayout) {
  testing::FakeMemory memory;
  WriteFakeImage(memory, {}, {});
  EXPECT_FALSE(ReadPeLayout(memory, kBase + 0x10)) << "no MZ";
  ASSERT_TRUE(ReadPeLayout(memory, kBase));
  EXPECT_FALSE(ReadPeLayout(memory, kBase, ProcessBits::k64)) << "a 32-bit header in a 64-bit process";
  memory.Write32(kBase + 0x3C, 0xFFFFFFF0);
  EXPECT_FALSE(ReadPeLayout(memory, kBase)) << "new header offset past the end of memory";
  memory.Write32(kBase + 0x3C, 0x2F80);
  EXPECT_FALSE(ReadPeLayout(memory, kBase)) << "headers run past the mapped image";
  memory.Write32(kBase + 0x3C, testing::kFakeNtHeaders);
  memory.Write(kBase + testing::kFakeNtHeaders, {'P', 'X'});
  EXPECT_FALSE(ReadPeLayout(memory, kBase));
  memory.Write(kBase + testing::kFakeNtHeaders, {'P', 'E'});
  memory.Write(kBase + testing::kFakeNtHeaders + 24, {0x0B, 0x02});
  EXPECT_FALSE(ReadPeLayout(memory, kBase)) << "a 64-bit optional header in a 32-bit process";
}

TEST(LoadedImage, ExportsSortedByAddressWithTheirSizes) {
  testing::FakeMemory memory;
  WriteFakeImage(memory, {}, {{"Second", 0x1010}, {"First", 0x1000}, {"@Unit@Proc$qqrv", 0x1020}});
  memory.Write(kBase + 0x1000, {0x8B, 0xC1, 0xC3});
  memory.Write(kBase + 0x1010, {0x55, 0x8B, 0xEC, 0x5D, 0xC2, 0x04, 0x00});
  memory.Write(kBase + 0x1020, {0xC3});
  const TRuzadaFunctionsList functions = ReadExportedFunctions(memory, kBase);
  ASSERT_EQ(Names(functions), (std::vector<std::string>{"First", "Second", "@Unit@Proc$qqrv"}));
  EXPECT_EQ(functions.Items(0).Address, kBase + 0x1000);
  EXPECT_EQ(functions.Items(0).Size, 2u);
  EXPECT_EQ(functions.Items(1).Size, 4u);
  EXPECT_EQ(functions.Items(2).Size, 0u);
}

TEST(LoadedImage, AddressesComeFromTheLookupAndSystemThunksAreFollowed) {
  testing::FakeMemory memory;
  WriteFakeImage(memory, {}, {{"Thunk", 0x1000}, {"Gone", 0x1010}, {"Moved", 0x1020}});
  memory.Write(kBase + 0x1000, {0x68, 0x40, 0x10, 0x00, 0x10, 0xE9, 0, 0, 0, 0});
  ExportReadOptions options;
  options.lookup = [](std::uint64_t, const std::string& name, std::uint64_t table) -> std::optional<std::uint64_t> {
    if (name == "Gone") return std::nullopt;
    if (name == "Moved") return kBase + 0x1800;
    return table;
  };
  options.system_thunks = true;
  const TRuzadaFunctionsList functions = ReadExportedFunctions(memory, kBase, options);
  ASSERT_EQ(Names(functions), (std::vector<std::string>{"Thunk", "Moved"}));
  EXPECT_EQ(functions.Items(0).Address, kBase + 0x1040);
  EXPECT_EQ(functions.Items(1).Address, kBase + 0x1800);
}

TEST(LoadedImage, HostileExportTablesAreReadOnlyAsFarAsTheyFit) {
  testing::FakeMemory memory;
  const std::uint32_t directory = WriteFakeImage(memory, {}, {{"A", 0x1000}, {"B", 0x1004}});
  // Counts far beyond the section: only what the section holds is read,
  // and the arrays' zero tail yields no further names.
  memory.Write32(directory + 20, 0x7FFFFFFF);
  memory.Write32(directory + 24, 0x7FFFFFFF);
  EXPECT_EQ(Names(ReadExportedFunctions(memory, kBase)), (std::vector<std::string>{"A", "B"}));

  // A names array that starts past the section: nothing.
  memory.Write32(directory + 32, 0x2FFE);
  EXPECT_EQ(ReadExportedFunctions(memory, kBase).Count(), 0);
  memory.Write32(directory + 32, 0xFFFFFFF0);
  EXPECT_EQ(ReadExportedFunctions(memory, kBase).Count(), 0);

  // An export directory outside every section.
  FakeImageLayout outside;
  outside.export_rva = 0x2F00;
  outside.export_section_size = 0x800;
  testing::FakeMemory other;
  WriteFakeImage(other, outside, {{"A", 0x1000}});
  EXPECT_EQ(ReadExportedFunctions(other, kBase).Count(), 0);
}

TEST(LoadedImage, LongAndUnterminatedNamesAreCut) {
  testing::FakeMemory memory;
  const std::string long_name(300, 'x');
  WriteFakeImage(memory, {}, {{long_name, 0x1000}, {"Ordinal", 0x1000}});
  TRuzadaFunctionsList functions = ReadExportedFunctions(memory, kBase);
  ASSERT_EQ(functions.Count(), 2);
  EXPECT_EQ(functions.Items(0).Name, std::string(kMaxExportNameLength, 'x'));

  // A name that runs into the end of the image without its zero.
  const std::uint32_t last = kBase + 0x3000 - 5;
  memory.Write(last, {'T', 'a', 'i', 'l', 'X'});
  const std::uint32_t names = kBase + 0x2000 + 40 + 2 * 4;
  memory.Write32(names + 4, last - kBase);
  functions = ReadExportedFunctions(memory, kBase);
  EXPECT_EQ(Names(functions)[1], "TailX");

  // An ordinal beyond the address table: that name has no address.
  memory.Write(kBase + 0x2000 + 40 + 4 * 4 + 2, {0xFF, 0x7F});
  EXPECT_EQ(ReadExportedFunctions(memory, kBase).Count(), 1);
}

}  // namespace
}  // namespace vellum::exceptlog
