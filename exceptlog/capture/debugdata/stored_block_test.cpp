#include <gtest/gtest.h>

#include "exceptlog/capture/debugdata/debug_data.h"
#include "exceptlog/capture/debugdata/stored_block_writer.h"
#include "exceptlog/capture/debugdata/symbol_table.h"
#include "exceptlog/capture/debugdata/testing/debug_data_test_support.h"
#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/common/codec/base64.h"
#include "exceptlog/common/zlib/zlib_buffer.h"

namespace vellum::exceptlog {
namespace {

using testing::CodeAt;
using testing::Image;

const std::vector<std::uint8_t> kFrame = {0x55, 0x8B, 0xEC};
const std::vector<std::uint8_t> kNoFrame = {0x83, 0xEC, 0x10};

// One unit "Forms" from code offset 0x10: "TApp.Run" on lines 100..102 over
// [0x10, 0x30), then ".Stop" (same class) from 0x30 on line 110.
std::vector<std::uint8_t> OldDebugData() {
  Image table;
  table.Byte(0x2D).OldName("TApp.Run");      // named, line +2, 4 bytes
  table.Byte(0x36);                          // line +1, 28 bytes
  table.Raw({0xF7, 0x00}).OldName(".Stop");  // named, 16-bit: line +1, 16 bytes
  Image data;
  data.Int(3).Raw({1, 2, 3});  // the block skipped from 405 to 499
  data.Int(1).OldName("Forms").Int(100).Int(0x10).Int(0x30).Int(static_cast<std::uint32_t>(table.bytes.size()));
  return data.Append(table.bytes).bytes;
}

StoredBlock Read(const std::vector<std::uint8_t>& resource, bool quick = false, PasswordRequest request = {}) {
  const auto block = ReadStoredBlock(resource, quick, request);
  EXPECT_TRUE(block.has_value());
  return block.value_or(StoredBlock{});
}

TEST(StoredBlock, OlderThan450IsPlainAndItsNamesScrambled) {
  const std::vector<std::uint8_t> debug = OldDebugData();
  Image resource;
  resource.Int(kStoredBlockMagic).Word(449).Raw({0, 0, 0, 0, 0, 0xC0, 0xE5, 0x40});  // 44544.0
  resource.Append(testing::OptionsStream449("old subject")).Int(static_cast<std::uint32_t>(debug.size())).Append(debug);

  const StoredBlock block = Read(resource.bytes);
  EXPECT_EQ(block.Problem, "");
  EXPECT_EQ(block.BlockVersion, 449);
  EXPECT_EQ(block.CompileDate, 44544.0);
  EXPECT_TRUE(block.SymbolTable.empty());
  ASSERT_TRUE(block.HasOptions);
  TRuzadaModuleOptions options("", false);
  ASSERT_TRUE(LoadStoredOptions(block, options));
  EXPECT_EQ(options.MailSubject(), "old subject");
  ASSERT_TRUE(block.HasDebugData);
  EXPECT_EQ(block.DebugData, debug);

  const auto code = CodeAt({{0x10, kFrame}, {0x30, kNoFrame}});
  const auto first = LookUpDebugData(ViewOf(block), 0x12, code);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->UnitName, "Forms.pas");  // no dot: the unit gets its extension
  EXPECT_EQ(first->ClassName, "TApp");
  EXPECT_EQ(first->ProcedureName, "Run");
  EXPECT_EQ(first->Line, 100u);
  EXPECT_EQ(first->ProcedureLine, 0u);
  const auto second = LookUpDebugData(ViewOf(block), 0x2F, code);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->Line, 102u);
  EXPECT_EQ(second->ProcedureLine, 2u);
  // ".Stop" keeps the class; without a frame the first line counts one less.
  const auto third = LookUpDebugData(ViewOf(block), 0x30, code);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->ClassName, "TApp");
  EXPECT_EQ(third->ProcedureName, "Stop");
  EXPECT_EQ(third->Line, 103u);
  EXPECT_EQ(third->ProcedureLine, 1u);
  // A 64-bit procedure's frame has REX.W in its move: "Run" counts as
  // framed, and a 32-bit procedure whose code merely begins the same way
  // (55 48: PUSH EBP; DEC EAX) is no 64-bit frame without the move.
  const auto wide_code = CodeAt({{0x10, {0x55, 0x48, 0x8B, 0xEC}}, {0x30, {0x55, 0x48, 0x89, 0xC8}}});
  EXPECT_EQ(LookUpDebugData(ViewOf(block), 0x2F, wide_code)->ProcedureLine, 2u);
  EXPECT_EQ(LookUpDebugData(ViewOf(block), 0x30, wide_code)->ProcedureLine, 1u);
  EXPECT_FALSE(LookUpDebugData(ViewOf(block), 0x0F, code));
  EXPECT_FALSE(LookUpDebugData(ViewOf(block), 0x40, code));
  // Absolute addresses count from the module handle plus 0x1000.
  EXPECT_EQ(LookUpDebugDataAt(ViewOf(block), 0x400000 + 0x1000 + 0x12, 0x400000, code)->Line, 100u);
  EXPECT_FALSE(LookUpDebugDataAt(ViewOf(block), 0x400010, 0x400000, code));
}

TEST(StoredBlock, From450TheRestIsCompressed) {
  const std::vector<std::uint8_t> debug = OldDebugData();
  Image rest;
  rest.Append(testing::OptionsStream499("compressed")).Int(static_cast<std::uint32_t>(debug.size())).Append(debug);
  const Bytes compressed = CompressBuf(rest.bytes.data(), rest.bytes.size());
  Image resource;
  resource.Int(kStoredBlockMagic).Word(499).Raw({0, 0, 0, 0, 0, 0, 0, 0}).Append(compressed);
  const StoredBlock block = Read(resource.bytes);
  EXPECT_EQ(block.Problem, "");
  TRuzadaModuleOptions options("", false);
  ASSERT_TRUE(LoadStoredOptions(block, options));
  EXPECT_EQ(options.MailSubject(), "compressed");
  EXPECT_EQ(block.DebugData, debug);
  EXPECT_EQ(LookUpDebugData(ViewOf(block), 0x30, {})->ProcedureName, "Stop");

  // Compressed bytes in a block older than 450 are not options.
  Image wrong;
  wrong.Int(kStoredBlockMagic).Word(449).Raw({0, 0, 0, 0, 0, 0, 0, 0}).Append(compressed);
  const StoredBlock damaged = Read(wrong.bytes);
  EXPECT_FALSE(damaged.HasOptions);
  EXPECT_FALSE(damaged.HasDebugData);
  EXPECT_NE(damaged.Problem.find("the options do not load"), std::string::npos);
}

// A block of version 500 or 501: symbol table, compressed options, password
// check, then the compressed debug data whose names are enciphered.
std::vector<std::uint8_t> CipheredBlock(std::uint16_t version, const std::string& password) {
  TRuzadaModuleOptions options("", false);
  options.SetMailSubject("ciphered");
  MemoryStream saved;
  options.SaveToStream(saved);
  Image table;
  table.Byte(0x2D);
  if (version >= 502) {
    table.CipheredName("TApp", password, true).CipheredName("Run", password);
  } else {
    table.CipheredName("TApp.Run", password);
  }
  table.Byte(0x36);
  Image debug;
  debug.Int(1)
      .CipheredName("Forms", password)
      .Int(100)
      .Int(0x10)
      .Int(0x20)
      .Int(static_cast<std::uint32_t>(table.bytes.size()));
  debug.Append(table.bytes);
  Image rest;
  rest.Int(static_cast<std::uint32_t>(debug.bytes.size())).Append(debug.bytes);
  std::string check = "\x10\xAB\x0F";
  check.push_back('\0');
  BlockCipher(password).EncryptBuffer(check.data(), check.data(), 4);

  const Bytes options_z = CompressBuf(saved.Memory(), saved.Bytes().size());
  const Bytes rest_z = CompressBuf(rest.bytes.data(), rest.bytes.size());
  Image block;
  block.Int(kStoredBlockMagic).Word(version).Raw({0, 0, 0, 0, 0, 0, 0, 0});
  block.Int(9).Byte(0).Int(0x40).Int(0x22);
  block.Int(static_cast<std::uint32_t>(options_z.size())).Append(options_z);
  for (char c : check) block.Byte(static_cast<std::uint8_t>(c));
  return block.Append(rest_z).bytes;
}

TEST(StoredBlock, From500NamesAreEncipheredAndThePasswordIsChecked) {
  for (const std::uint16_t version : {500, 501, 502, 504}) {
    SCOPED_TRACE(version);
    const std::vector<std::uint8_t> resource = CipheredBlock(version, "secret");
    std::vector<std::string> asked;
    const StoredBlock block = Read(resource, false, [&](const std::string& current) {
      asked.push_back(current);
      return std::string("secret");
    });
    EXPECT_EQ(asked, std::vector<std::string>{""});
    EXPECT_EQ(block.Problem, "");
    EXPECT_TRUE(block.PasswordOk);
    EXPECT_EQ(block.Password, "secret");
    EXPECT_EQ(block.SymbolTable, (std::vector<std::uint8_t>{0, 0x40, 0, 0, 0, 0x22, 0, 0, 0}));
    TRuzadaModuleOptions options("", false);
    ASSERT_TRUE(LoadStoredOptions(block, options));
    EXPECT_EQ(options.MailSubject(), "ciphered");

    const auto found = LookUpDebugData(ViewOf(block), 0x11, CodeAt({{0x10, kFrame}}));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->UnitName, "Forms.pas");
    EXPECT_EQ(found->ClassName, "TApp");
    EXPECT_EQ(found->ProcedureName, "Run");
    EXPECT_EQ(found->Line, 100u);
  }
}

TEST(StoredBlock, WithoutThePasswordNamesShowAsBase64) {
  const auto base64_of_stored = [](const std::string& plain) {
    std::string stored = plain;
    BlockCipher("secret").EncryptBuffer(stored.data(), stored.data(), stored.size());
    return "?" + Base64FromText(stored);
  };
  for (const std::uint16_t version : {501, 502}) {
    SCOPED_TRACE(version);
    // No password handler: the password stays empty and the check fails.
    const StoredBlock block = Read(CipheredBlock(version, "secret"));
    EXPECT_FALSE(block.PasswordOk);
    EXPECT_TRUE(block.HasOptions);
    const auto found = LookUpDebugData(ViewOf(block), 0x11, {});
    ASSERT_TRUE(found);
    // The unit name gets a "p" as its second character.
    std::string unit = base64_of_stored("Forms");
    unit.insert(1, "p");
    EXPECT_EQ(found->UnitName, unit);
    if (version >= 502) {
      // Chained parts stay apart, so class and procedure can still be told.
      EXPECT_EQ(found->ClassName, base64_of_stored("TApp"));
      EXPECT_EQ(found->ProcedureName, base64_of_stored("Run"));
    } else {
      EXPECT_EQ(found->ClassName, "");
      EXPECT_EQ(found->ProcedureName, base64_of_stored("TApp.Run"));
    }
  }
}

TEST(StoredBlock, ShownNamesAreCutTo255Characters) {
  const std::string long_name(200, 'x');
  Image table;
  table.Byte(0x2D).CipheredName(long_name, "pw");
  Image debug;
  debug.Int(1).CipheredName("U.cpp", "pw").Int(1).Int(0).Int(4).Int(static_cast<std::uint32_t>(table.bytes.size()));
  debug.Append(table.bytes);
  const DebugDataView view{debug.bytes, 501, false, BlockCipher("").Key()};
  const auto found = LookUpDebugData(view, 0, {});
  ASSERT_TRUE(found);
  EXPECT_EQ(found->ProcedureName.size(), 255u);
  EXPECT_EQ(found->ProcedureName[0], '?');
}

TEST(StoredBlock, QuickReadTakesOptionsOnly) {
  bool asked = false;
  const StoredBlock block = Read(CipheredBlock(504, "pw"), true, [&](const std::string&) {
    asked = true;
    return std::string("pw");
  });
  EXPECT_FALSE(asked);
  EXPECT_TRUE(block.HasOptions);
  EXPECT_FALSE(block.HasDebugData);
  EXPECT_EQ(block.Problem, "");
}

TEST(StoredBlock, WriterAndReaderAgreeInBothForms) {
  TRuzadaModuleOptions options("", false);
  options.SetSmtpServer("mail.example.org");
  MemoryStream saved;
  options.SaveToStream(saved);
  StoredBlockContents contents;
  contents.CompileDate = 45123.25;
  contents.OptionsStream = saved.Bytes();
  contents.DebugData = {0, 0, 0, 0};
  contents.Password = "pw";
  const exceptlog::NumberedSymbol symbols[] = {{0, 0x100, 0x40}, {1, 0x200, 0x30}};
  contents.SymbolTable = exceptlog::WriteNumberedSymbols(symbols);

  const StoredBlock resource = Read(WriteStoredBlock(contents), false, [](const std::string&) { return "pw"; });
  EXPECT_EQ(resource.Problem, "");
  EXPECT_TRUE(resource.PasswordOk);
  EXPECT_EQ(resource.CompileDate, 45123.25);
  EXPECT_EQ(resource.SymbolTable, contents.SymbolTable);
  EXPECT_EQ(resource.OptionsStream, contents.OptionsStream);
  EXPECT_EQ(resource.DebugData, contents.DebugData);

  // The appended form sits at the end of a file whose start is anything.
  std::vector<std::uint8_t> file(100, 0xCC);
  const std::vector<std::uint8_t> appended = WriteAppendedStoredBlock(contents);
  file.insert(file.end(), appended.begin(), appended.end());
  EXPECT_EQ(AppendedBlockSize(std::span(file).last(8)), appended.size() - 8);
  const auto tail = ReadAppendedStoredBlock(file, false);
  ASSERT_TRUE(tail);
  EXPECT_EQ(tail->Problem, "");
  EXPECT_EQ(tail->BlockVersion, kOwnBlockVersion);
  EXPECT_EQ(tail->OptionsStream, contents.OptionsStream);
  EXPECT_EQ(tail->DebugData, contents.DebugData);
  EXPECT_FALSE(ReadAppendedStoredBlock(std::span(file).first(100), false));
}

// A deferred read inflates nothing until asked, and then gives what the
// whole read gives, damage and its problem text included.
TEST(StoredBlock, DeferredDebugDataInflatesToWhatTheWholeReadGives) {
  const std::vector<std::uint8_t> good = CipheredBlock(504, "");
  const auto same_as_whole = [](const std::vector<std::uint8_t>& bytes, const std::string& what) {
    const auto whole = ReadStoredBlock(bytes, false, {});
    auto deferred = ReadStoredBlockDeferred(bytes, {});
    ASSERT_EQ(whole.has_value(), deferred.has_value()) << what;
    if (!whole) return;
    EXPECT_TRUE(deferred->DebugData.empty()) << what;
    InflateDeferredDebugData(*deferred);
    EXPECT_FALSE(deferred->DebugDataDeferred) << what;
    EXPECT_EQ(deferred->HasDebugData, whole->HasDebugData) << what;
    EXPECT_EQ(deferred->DebugData, whole->DebugData) << what;
    EXPECT_EQ(deferred->Problem, whole->Problem) << what;
    EXPECT_EQ(deferred->OptionsStream, whole->OptionsStream) << what;
    EXPECT_EQ(deferred->PasswordOk, whole->PasswordOk) << what;
  };
  const auto deferred = ReadStoredBlockDeferred(good, {});
  ASSERT_TRUE(deferred);
  EXPECT_TRUE(deferred->DebugDataDeferred);
  EXPECT_FALSE(deferred->HasDebugData);
  EXPECT_FALSE(deferred->CompressedDebugData.empty());
  same_as_whole(good, "whole");
  for (std::size_t size = 4; size < good.size(); ++size) {
    same_as_whole(std::vector<std::uint8_t>(good.begin(), good.begin() + size), "cut at " + std::to_string(size));
  }
  for (std::size_t at = good.size() - 12; at < good.size(); ++at) {
    std::vector<std::uint8_t> changed = good;
    changed[at] ^= 0x5A;
    same_as_whole(changed, "changed at " + std::to_string(at));
  }
  // An older layout keeps its debug data behind the options: nothing to
  // defer.
  const std::vector<std::uint8_t> debug = OldDebugData();
  Image old;
  old.Int(kStoredBlockMagic).Word(449).Raw({0, 0, 0, 0, 0, 0xC0, 0xE5, 0x40});
  old.Append(testing::OptionsStream449("old")).Int(static_cast<std::uint32_t>(debug.size())).Append(debug);
  const auto older = ReadStoredBlockDeferred(old.bytes, {});
  ASSERT_TRUE(older);
  EXPECT_FALSE(older->DebugDataDeferred);
  EXPECT_TRUE(older->HasDebugData);
}

TEST(StoredBlock, ForeignBytesAreNoBlock) {
  EXPECT_FALSE(ReadStoredBlock({}, false, {}));
  const std::vector<std::uint8_t> other = {0x10, 0xAB, 0x0F, 0x01, 0xF4, 0x01};
  EXPECT_FALSE(ReadStoredBlock(other, false, {}));
  EXPECT_FALSE(AppendedBlockSize(other));
}

// Damaged blocks: every cut and a sample of changed bytes give a block that
// lacks what was damaged and says so, never a failure of the reader.
TEST(StoredBlock, DamagedBlocksLoseWhatIsDamagedAndSaySo) {
  const std::vector<std::uint8_t> good = CipheredBlock(504, "");
  for (std::size_t size = 4; size < good.size(); ++size) {
    const StoredBlock block = Read(std::vector<std::uint8_t>(good.begin(), good.begin() + size));
    EXPECT_FALSE(block.HasDebugData && block.DebugData.size() == Read(good).DebugData.size() && block.Problem.empty())
        << size;
    EXPECT_FALSE(block.Problem.empty()) << size;
  }
  for (std::size_t at = 4; at < good.size(); ++at) {
    std::vector<std::uint8_t> changed = good;
    changed[at] ^= 0x5A;
    const StoredBlock block = Read(changed);
    LookUpDebugData(ViewOf(block), 0x11, {});
  }
  // A length that claims the whole address space.
  Image huge;
  huge.Int(kStoredBlockMagic).Word(504).Raw({0, 0, 0, 0, 0, 0, 0, 0}).Int(0xFFFFFFF0);
  const StoredBlock block = Read(huge.bytes);
  EXPECT_FALSE(block.HasOptions);
  EXPECT_EQ(block.Problem, "the stored block is cut short");
  // A compile date that is no date.
  Image nan;
  nan.Int(kStoredBlockMagic).Word(504).Raw({0, 0, 0, 0, 0, 0, 0xF8, 0x7F});
  EXPECT_EQ(Read(nan.bytes).CompileDate, 0.0);
  // Appended: a length beyond the file.
  Image appended;
  appended.Int(1000).Int(kStoredBlockMagic);
  const auto tail = ReadAppendedStoredBlock(appended.bytes, false);
  ASSERT_TRUE(tail);
  EXPECT_FALSE(tail->HasOptions);
  EXPECT_EQ(tail->Problem, "the appended block is longer than the file");
}

TEST(StoredBlock, AFailingPasswordRequestLeavesThePasswordEmpty) {
  const StoredBlock block =
      Read(CipheredBlock(504, ""), false, [](const std::string&) -> std::string { throw Exception("handler failed"); });
  EXPECT_TRUE(block.PasswordOk);  // the empty password was the right one
  EXPECT_NE(block.Problem.find("handler failed"), std::string::npos);
}

}  // namespace
}  // namespace vellum::exceptlog
