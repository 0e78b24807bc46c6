#include "exceptlog/common/binary/pe_file.h"

#include <gtest/gtest.h>

#include <vector>

#include "exceptlog/common/binary/testing/pe_file_test_support.h"

namespace vellum::exceptlog {
namespace {

using testing::BuildTestDll;
using testing::kTestImageBase;

const std::vector<std::uint8_t> kCode = {0x55, 0x8B, 0xEC, 0x90, 0x90, 0x5D, 0xC3, 0x00};

// Stands in for a stored block: what the resource holds does not matter here.
std::vector<std::uint8_t> ResourceData() {
  std::vector<std::uint8_t> data(300);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  return data;
}

TEST(PeFile, ReadsSectionsAndTheNamedResource) {
  const std::vector<std::uint8_t> block = {1, 2, 3, 4, 5};
  const PeFile image(BuildTestDll(kCode, "ELDATA", block));
  EXPECT_EQ(image.ImageBase(), kTestImageBase);
  EXPECT_TRUE(image.IsDll());
  ASSERT_EQ(image.Sections().size(), 2u);
  EXPECT_EQ(image.Sections()[0].Name, ".text");
  std::uint8_t first[3];
  ASSERT_TRUE(image.ReadRva(0x1000, first));
  EXPECT_EQ(first[2], 0xEC);
  EXPECT_FALSE(image.ReadRva(0x1000 + 0x1FF, first));                 // beyond the file data
  const auto found = image.FindResource(kRawDataResource, "eldata");  // names compare without case
  ASSERT_TRUE(found);
  EXPECT_EQ(std::vector<std::uint8_t>(found->begin(), found->end()), block);
  EXPECT_FALSE(image.FindResource(kRawDataResource, "OTHER"));
  EXPECT_FALSE(image.FindResource(3, "ELDATA"));
}

TEST(PeFile, DamagedFilesRaiseOrFindNothing) {
  const std::vector<std::uint8_t> good = BuildTestDll(kCode, "ELDATA", ResourceData());
  EXPECT_THROW(PeFile(std::vector<std::uint8_t>(good.begin(), good.begin() + 0x60)), EPeFormatError);
  // Every byte of the resource tree changed in turn: the reader answers or
  // finds nothing, and never reads outside the file (the sanitizers watch).
  const std::size_t tree = 0x600;
  for (std::size_t at = tree; at < tree + 0x70; ++at) {
    std::vector<std::uint8_t> changed = good;
    changed[at] ^= 0xFF;
    const PeFile image(changed);
    image.FindResource(kRawDataResource, "ELDATA");
  }
  // A resource that points back at its own root.
  std::vector<std::uint8_t> looping = good;
  testing::Put32(looping, tree + 0x30 + 20, 0x80000000u);
  EXPECT_FALSE(PeFile(looping).FindResource(kRawDataResource, "ELDATA"));
}

TEST(PeFile, AMachineMustGoWithItsHeadersFormat) {
  const std::vector<std::uint8_t> plus = BuildTestDll(kCode, "ELDATA", ResourceData(), testing::kTestImageBase64);
  const PeFile image(plus);
  EXPECT_TRUE(image.IsPe32Plus());
  EXPECT_EQ(image.Machine(), kMachineAmd64);
  EXPECT_EQ(image.ImageBase(), testing::kTestImageBase64);
  const auto found = image.FindResource(kRawDataResource, "ELDATA");
  ASSERT_TRUE(found);
  EXPECT_EQ(std::vector<std::uint8_t>(found->begin(), found->end()), ResourceData());

  const auto problem = [](std::vector<std::uint8_t> file, std::uint16_t machine) {
    testing::Put16(file, 0x44, machine);
    try {
      PeFile{file};
      return std::string("read");
    } catch (const EPeFormatError& e) {
      return std::string(e.what());
    }
  };
  const std::vector<std::uint8_t> pe32 = BuildTestDll(kCode, "ELDATA", {1});
  EXPECT_EQ(problem(pe32, kMachineAmd64), "not an x86 or x86-64 PE file (PE32 for x86-64)");
  EXPECT_EQ(problem(plus, kMachineI386), "not an x86 or x86-64 PE file (PE32+ for i386)");
  EXPECT_EQ(problem(plus, 0xAA64), "not an x86 or x86-64 PE file (PE32+ for machine 0xAA64)");
  EXPECT_EQ(problem(pe32, 0x01C0), "not an x86 or x86-64 PE file (PE32 for machine 0x01C0)");
}

TEST(PeFile, ExportsPointIntoTheImage) {
  // The export directory, its three arrays and the names, all in the code
  // section: "Alpha" is a function, "Forward" a forwarder (its address is
  // inside the directory), "Beyond" an ordinal past the address table.
  std::vector<std::uint8_t> code(0x100);
  const std::uint32_t functions = 0x1028, names = 0x1034, ordinals = 0x1040, text = 0x1048;
  const auto put32 = [&](std::uint32_t rva, std::uint32_t value) { testing::Put32(code, rva - 0x1000, value); };
  put32(0x1000 + 20, 3);
  put32(0x1000 + 24, 3);
  put32(0x1000 + 28, functions);
  put32(0x1000 + 32, names);
  put32(0x1000 + 36, ordinals);
  put32(functions, 0x1080);
  put32(functions + 4, 0x1010);
  const char* const export_names[] = {"Alpha", "Forward", "Beyond"};
  std::uint32_t at = text;
  for (std::uint32_t i = 0; i < 3; ++i) {
    put32(names + 4 * i, at);
    testing::Put16(code, ordinals + 2 * i - 0x1000, i == 2 ? 7 : i);
    for (const char* c = export_names[i]; *c != '\0'; ++c) code[at++ - 0x1000] = static_cast<std::uint8_t>(*c);
    ++at;
  }
  std::vector<std::uint8_t> file = BuildTestDll(code, "ELDATA", {1});
  testing::Put32(file, 0x58 + 96, 0x1000);
  testing::Put32(file, 0x58 + 100, 0x60);
  const PeFile image(file);
  const std::vector<PeExport> exports = image.Exports();
  ASSERT_EQ(exports.size(), 1u);
  EXPECT_EQ(exports[0].Name, "Alpha");
  EXPECT_EQ(exports[0].Rva, 0x1080u);

  // A name count far beyond the table: the names array ends with the
  // section's file data, and reading stops there.
  testing::Put32(file, 0x400 + 24, 0x7FFFFFFF);
  EXPECT_LE(PeFile(file).Exports().size(), (0x100 - 0x34) / 4u);
}

}  // namespace
}  // namespace vellum::exceptlog
