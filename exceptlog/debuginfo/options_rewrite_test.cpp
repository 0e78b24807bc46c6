#include "exceptlog/debuginfo/options_rewrite.h"

#include <gtest/gtest.h>

#include <vector>

#include "exceptlog/capture/debugdata/debug_data.h"
#include "exceptlog/capture/debugdata/stored_block_writer.h"
#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/common/binary/pe_file.h"
#include "exceptlog/common/binary/testing/pe_file_test_support.h"
#include "runtime/stream.h"

namespace vellum::exceptlog {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kOptionalHeader = 0x58;

Bytes PatternBytes(std::size_t count, std::uint8_t seed) {
  Bytes bytes(count);
  std::uint32_t state = seed;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(state >> 16);
  }
  return bytes;
}

// A real options stream, its upload address `address`.
Bytes OptionsStream(const std::string& address) {
  TRuzadaModuleOptions options(std::string(), false);
  options.SetUploadAddress(address);
  MemoryStream stream;
  options.SaveToStream(stream);
  return stream.Bytes();
}

std::string PatternText(std::size_t count, std::uint8_t seed) {
  std::string text;
  for (std::uint8_t byte : PatternBytes(count, seed)) text.push_back(static_cast<char>('a' + byte % 26));
  return text;
}

StoredBlockContents Contents(Bytes options) {
  StoredBlockContents contents;
  contents.CompileDate = 46000.5;
  contents.SymbolTable = Bytes(18, 7);
  contents.OptionsStream = std::move(options);
  contents.DebugData = PatternBytes(3000, 3);
  contents.Password = "secret";
  return contents;
}

// A module as the linker leaves it: alignments and the size of the headers
// set (at the same offsets in PE32 and PE32+).
Bytes Module(const Bytes& block, bool pe32_plus = false) {
  Bytes file = pe32_plus ? testing::BuildTestDll({0x55, 0x48, 0x89, 0xE5, 0x5D, 0xC3}, "ELDATA", block,
                                                 testing::kTestImageBase64)
                         : testing::BuildTestDll({0x55, 0x8B, 0xEC, 0x5D, 0xC3}, "ELDATA", block);
  testing::Put32(file, kOptionalHeader + 32, 0x1000);
  testing::Put32(file, kOptionalHeader + 36, 0x200);
  testing::Put32(file, kOptionalHeader + 60, 0x400);
  return file;
}

StoredBlock ReadBack(const Bytes& file) {
  const PeFile module(file);
  const auto resource = module.FindResource(kRawDataResource, "ELDATA");
  EXPECT_TRUE(resource);
  if (!resource) return {};
  const auto block = ReadStoredBlock(*resource, false, [](const std::string&) { return std::string("secret"); });
  EXPECT_TRUE(block);
  return block ? *block : StoredBlock{};
}

void ExpectOnlyOptionsChanged(const StoredBlock& block, const Bytes& options) {
  EXPECT_EQ(block.Problem, "");
  EXPECT_TRUE(block.PasswordOk) << "the check bytes were kept";
  EXPECT_EQ(block.CompileDate, 46000.5);
  EXPECT_EQ(block.SymbolTable, Bytes(18, 7));
  EXPECT_EQ(block.DebugData, PatternBytes(3000, 3));
  EXPECT_EQ(block.OptionsStream, options);
}

void KeepsEverythingButTheOptions(bool pe32_plus) {
  const Bytes original_options = OptionsStream(PatternText(600, 1));  // hardly compresses
  const Bytes module = Module(WriteStoredBlock(Contents(original_options)), pe32_plus);

  const Bytes fewer = OptionsStream("http://127.0.0.1/");
  const OptionsRewrite smaller = ReplaceStoredOptions(module, fewer);
  EXPECT_TRUE(smaller.InPlace);
  EXPECT_EQ(smaller.File.size(), module.size());
  ExpectOnlyOptionsChanged(ReadBack(smaller.File), fewer);

  const Bytes more = OptionsStream(PatternText(5000, 9));
  const OptionsRewrite larger = ReplaceStoredOptions(module, more);
  EXPECT_FALSE(larger.InPlace);
  ExpectOnlyOptionsChanged(ReadBack(larger.File), more);
  const PeFile grown(larger.File);
  ASSERT_EQ(grown.Sections().size(), 3u);
  const PeSectionHeader& added = grown.Sections().back();
  EXPECT_EQ(added.Name, ".eldata");
  EXPECT_EQ(added.VirtualAddress % 0x1000, 0u);
  EXPECT_EQ(added.RawOffset % 0x200, 0u);
  EXPECT_GE(grown.SizeOfImage(), added.VirtualAddress + added.VirtualSize) << "the loader maps the new section";
  EXPECT_EQ(PeFile(module).Sections()[1].VirtualAddress, grown.Sections()[1].VirtualAddress);
  EXPECT_EQ(grown.ImageBase(), PeFile(module).ImageBase());

  // Rewriting the rewritten module again: back in the new section's place.
  const OptionsRewrite again = ReplaceStoredOptions(larger.File, fewer);
  EXPECT_TRUE(again.InPlace);
  ExpectOnlyOptionsChanged(ReadBack(again.File), fewer);
}

TEST(ReplaceStoredOptions, KeepsEverythingButTheOptionsWhetherTheBlockShrinksOrGrows) {
  for (const bool pe32_plus : {false, true}) {
    SCOPED_TRACE(pe32_plus ? "PE32+" : "PE32");
    KeepsEverythingButTheOptions(pe32_plus);
  }
}

TEST(ReplaceStoredOptions, RefusesWhatItCannotRewriteWithAClearError) {
  EXPECT_THROW(ReplaceStoredOptions(Module(Bytes(40, 1)), Bytes(4, 1)), EOptionsRewriteError)
      << "no magic at the start of the block";
  EXPECT_THROW(ReplaceStoredOptions(testing::BuildTestDll({0xC3}, "OTHER", Bytes(10)), Bytes(4)), EOptionsRewriteError)
      << "no stored block";

  StoredBlockContents old = Contents(OptionsStream(""));
  old.BlockVersion = 450;
  EXPECT_THROW(ReplaceStoredOptions(Module(WriteStoredBlock(old)), Bytes(8, 2)), EOptionsRewriteError);

  Bytes cramped = Module(WriteStoredBlock(Contents(OptionsStream(""))));
  testing::Put32(cramped, kOptionalHeader + 60, 0x58 + 0xE0 + 2 * 40);  // headers end at the table
  EXPECT_THROW(ReplaceStoredOptions(cramped, OptionsStream(PatternText(9000, 4))), EOptionsRewriteError);

  Bytes truncated = Module(WriteStoredBlock(Contents(OptionsStream(""))));
  testing::Put32(truncated, 0x400 + 0x200 + 0x4C, 20);  // the resource ends inside the symbol table
  EXPECT_THROW(ReplaceStoredOptions(truncated, Bytes(8, 2)), EOptionsRewriteError);
}

TEST(PeChecksum, MatchesTheSumOfWordsPlusTheLengthSkippingItsOwnField) {
  const Bytes file = {0x01, 0x00, 0xFF, 0xFF, 0xAA, 0xBB, 0x02, 0x00, 0x03};
  // 0x0001 + 0xFFFF folds to 0x0001; the four bytes at 4 are the field; + 3 = 4; + 9 bytes.
  EXPECT_EQ(PeChecksum(file, 4), 4u + 9u);
}

TEST(StoredBlockVersionOf, ReadsTheVersionAfterTheMagic) {
  EXPECT_EQ(StoredBlockVersionOf(Module(WriteStoredBlock(Contents(OptionsStream(""))))), kOwnBlockVersion);
}

}  // namespace
}  // namespace vellum::exceptlog
