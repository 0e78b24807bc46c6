#include "exceptlog/capture/debugdata/line_table_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "exceptlog/capture/debugdata/debug_data_index.h"

namespace vellum::exceptlog {
namespace {

// Code where every procedure start at an even offset has a frame and every
// other one starts with "sub esp": the writer must foresee which is which.
bool FakeCode(std::uint32_t offset, std::span<std::uint8_t> out) {
  static const std::uint8_t frame[] = {0x55, 0x8B, 0xEC};
  static const std::uint8_t no_frame[] = {0x83, 0xEC, 0x08};
  const std::uint8_t* bytes = offset % 2 == 0 ? frame : no_frame;
  std::copy_n(bytes, std::min<std::size_t>(out.size(), 3), out.begin());
  return out.size() <= 3;
}

// Optimised code: lines go back and forth, files change in the middle of a
// procedure (inlined code), procedures follow one another with gaps.
LineTableSource RandomSource(std::uint32_t seed) {
  std::mt19937 random(seed);
  LineTableSource source;
  source.UnitNames = {"application_win.cpp", "stl_vector.h", "functional", "form_win.cpp"};
  std::uint32_t offset = 0x20;
  for (std::uint32_t p = 0; p < 60; ++p) {
    const std::uint32_t first_line = 10 + random() % 3000;
    source.Procedures.push_back({p % 3 == 0 ? "" : "TClass" + std::to_string(p % 7), "Proc" + std::to_string(p),
                                 random() % 5 == 0 ? 0 : first_line});
    const std::uint32_t unit = random() % 4;
    const int ranges = 1 + static_cast<int>(random() % 12);
    for (int r = 0; r < ranges; ++r) {
      LineTableRange range;
      range.CodeOffset = offset;
      range.Size = random() % 10 == 0 ? 70000 + random() % 1000 : 1 + random() % 200;
      // Optimised code usually starts on the procedure's first line.
      range.Line = r == 0 ? first_line : first_line + random() % 40;
      range.Unit = random() % 6 == 0 ? (unit + 1) % 4 : unit;
      range.Procedure = random() % 15 == 0 ? kNoProcedure : p;
      source.Ranges.push_back(range);
      offset += range.Size;
    }
    offset += random() % 3 == 0 ? random() % 16 : 0;
  }
  std::shuffle(source.Ranges.begin(), source.Ranges.end(), random);
  return source;
}

TEST(LineTableWriter, EveryByteOfEveryRangeLooksUpAsWritten) {
  for (const std::uint16_t version : {std::uint16_t{449}, std::uint16_t{501}, std::uint16_t{504}}) {
    for (std::uint32_t seed = 1; seed <= 3; ++seed) {
      SCOPED_TRACE(::testing::Message() << "version " << version << " seed " << seed);
      const LineTableSource source = RandomSource(seed);
      const BlockCipher cipher("pw");
      LineTableStatistics statistics;
      const std::vector<std::uint8_t> data = WriteDebugData(source, version, cipher, FakeCode, &statistics);
      EXPECT_GT(statistics.UnitRecords, source.Procedures.size());
      const DebugDataView view{data, version, true, cipher.Key()};
      const DebugDataIndex index(view);
      EXPECT_FALSE(index.Damaged());
      EXPECT_EQ(index.UnitCount(), statistics.UnitRecords);

      std::size_t with_procedure_line = 0;
      for (const LineTableRange& range : source.Ranges) {
        for (const std::uint32_t at :
             {range.CodeOffset, range.CodeOffset + range.Size / 2, range.CodeOffset + range.Size - 1}) {
          const auto found = index.LookUp(at, FakeCode);
          ASSERT_TRUE(found) << at;
          EXPECT_EQ(found->UnitName,
                    source.UnitNames[range.Unit] == "functional" ? "functional.pas" : source.UnitNames[range.Unit]);
          EXPECT_EQ(found->Line, range.Line);
          if (range.Procedure == kNoProcedure) {
            EXPECT_EQ(found->ProcedureName, "");
          } else {
            const LineTableProcedure& procedure = source.Procedures[range.Procedure];
            EXPECT_EQ(found->ClassName, procedure.ClassName);
            EXPECT_EQ(found->ProcedureName, procedure.Name);
            // Code on the first line itself may count one too high when the
            // procedure has no frame; every later line counts right.
            if (procedure.FirstLine != 0 && range.Line > procedure.FirstLine) {
              EXPECT_EQ(found->ProcedureLine, range.Line - procedure.FirstLine) << at;
              ++with_procedure_line;
            }
          }
          if (at == range.CodeOffset) {
            const auto linear = LookUpDebugData(view, at, FakeCode);
            ASSERT_TRUE(linear);
            EXPECT_EQ(linear->Line, found->Line);
            EXPECT_EQ(linear->ProcedureName, found->ProcedureName);
          }
        }
      }
      EXPECT_GT(with_procedure_line, 100u);
      // Gaps between procedures resolve to nothing.
      EXPECT_FALSE(index.LookUp(0x1F, FakeCode));
    }
  }
}

TEST(LineTableWriter, OverlapsAreCutAndUnknownIndexesRefused) {
  LineTableSource source;
  source.UnitNames = {"a.cpp"};
  source.Procedures = {{"", "f", 0}};
  source.Ranges = {{0x10, 0x20, 5, 0, 0}, {0x18, 0x20, 9, 0, 0}};
  const BlockCipher cipher("");
  const std::vector<std::uint8_t> data = WriteDebugData(source, 504, cipher, {});
  const DebugDataView view{data, 504, true, cipher.Key()};
  EXPECT_EQ(LookUpDebugData(view, 0x1F, {})->Line, 5u);
  EXPECT_EQ(LookUpDebugData(view, 0x30, {})->Line, 9u);
  EXPECT_FALSE(LookUpDebugData(view, 0x38, {}));

  source.Ranges.push_back({0x40, 1, 1, 1, 0});
  EXPECT_THROW(WriteDebugData(source, 504, cipher, {}), EDebugDataError);
}

// The index decodes each table once and searches it; the linear lookup
// decodes up to the address every time. Both must answer alike at every
// offset, also when the data breaks off inside a table.
TEST(DebugDataIndex, AnswersAsTheLinearLookupEverywhere) {
  const LineTableSource source = RandomSource(7);
  const BlockCipher cipher("pw");
  const std::vector<std::uint8_t> whole = WriteDebugData(source, 504, cipher, FakeCode);
  std::uint32_t end = 0;
  for (const LineTableRange& range : source.Ranges) end = std::max(end, range.CodeOffset + range.Size);
  for (const std::size_t cut : {std::size_t{0}, whole.size() / 2 + 1}) {
    SCOPED_TRACE(::testing::Message() << "cut " << cut);
    const std::vector<std::uint8_t> data(whole.begin(), whole.end() - static_cast<std::ptrdiff_t>(cut));
    const DebugDataView view{data, 504, true, cipher.Key()};
    const DebugDataIndex index(view);
    int found = 0;
    // The edges of some ranges, and a stride through all of them (the
    // linear lookup is slow).
    std::vector<std::uint32_t> offsets;
    for (std::size_t r = 0; r < source.Ranges.size(); r += 8) {
      const LineTableRange& range = source.Ranges[r];
      offsets.insert(offsets.end(), {range.CodeOffset - 1, range.CodeOffset, range.CodeOffset + range.Size - 1});
    }
    for (std::uint32_t at = 0; at < end + 4; at += std::max<std::uint32_t>(1, end / 400)) offsets.push_back(at);
    for (const std::uint32_t at : offsets) {
      const auto indexed = index.LookUp(at, FakeCode);
      const auto linear = LookUpDebugData(view, at, FakeCode);
      ASSERT_EQ(indexed.has_value(), linear.has_value()) << at;
      if (!indexed) continue;
      ++found;
      EXPECT_EQ(indexed->UnitName, linear->UnitName) << at;
      EXPECT_EQ(indexed->ClassName, linear->ClassName) << at;
      EXPECT_EQ(indexed->ProcedureName, linear->ProcedureName) << at;
      EXPECT_EQ(indexed->Line, linear->Line) << at;
      EXPECT_EQ(indexed->ProcedureLine, linear->ProcedureLine) << at;
    }
    EXPECT_GT(found, 50);
  }
}

TEST(DebugDataIndex, DamagedDataKeepsTheUnitsBeforeTheDamage) {
  LineTableSource source;
  source.UnitNames = {"a.cpp", "b.cpp"};
  source.Procedures = {{"", "f", 0}, {"", "g", 0}};
  source.Ranges = {{0x10, 4, 1, 0, 0}, {0x100, 4, 1, 1, 1}};
  const BlockCipher cipher("");
  std::vector<std::uint8_t> data = WriteDebugData(source, 504, cipher, {});
  data.resize(data.size() - 3);
  const DebugDataView view{data, 504, true, cipher.Key()};
  const DebugDataIndex index(view);
  EXPECT_TRUE(index.Damaged());
  EXPECT_EQ(index.UnitCount(), 1u);
  EXPECT_EQ(index.LookUp(0x10, {})->ProcedureName, "f");
  EXPECT_EQ(LookUpDebugData(view, 0x10, {})->ProcedureName, "f");
  EXPECT_FALSE(LookUpDebugData(view, 0x100, {}));
}

TEST(ExportedNames, MangledNamesGiveUnitClassAndMethod) {
  const auto method = ResolveExportedName("@Forms@TApplication@HandleException$qqrp14System@TObject");
  ASSERT_TRUE(method);
  EXPECT_EQ(method->Kind, 3);
  EXPECT_EQ(method->UnitName, "Forms.pas");
  EXPECT_EQ(method->ClassName, "TApplication");
  EXPECT_EQ(method->ProcedureName, "HandleException");

  // A trailing "@" before "$" goes; two parts are unit and procedure.
  const auto constructor =
      ResolveExportedName("@Iwservercontrollerbase@TIWServerControllerBase@$bctr$qqrp18Classes@TComponent");
  ASSERT_TRUE(constructor);
  EXPECT_EQ(constructor->Kind, 3);
  EXPECT_EQ(constructor->UnitName, "Iwservercontrollerbase.pas");
  EXPECT_EQ(constructor->ClassName, "");
  EXPECT_EQ(constructor->ProcedureName, "TIWServerControllerBase");

  // The first "@@" becomes "_"; a leading "@" of the procedure too.
  const auto helper = ResolveExportedName("@System@@LStrClr$qqrpv");
  ASSERT_TRUE(helper);
  EXPECT_EQ(helper->Kind, 2);
  EXPECT_EQ(helper->ProcedureName, "System_LStrClr");
  EXPECT_EQ(ResolveExportedName("Unit.@Proc")->ProcedureName, "_Proc");

  const auto plain = ResolveExportedName("DllGetClassObject");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->Kind, 2);
  EXPECT_EQ(plain->ProcedureName, "DllGetClassObject");
  EXPECT_EQ(plain->UnitName, "");
  // Without "$" an "@" name is not mangled.
  EXPECT_EQ(ResolveExportedName("@Plain")->ProcedureName, "_Plain");

  EXPECT_FALSE(ResolveExportedName("?DoIt@@YAXXZ"));
  EXPECT_FALSE(ResolveExportedName(""));
  const auto nested = ResolveExportedName("@U@A@B@m$qqrv");
  EXPECT_EQ(nested->ClassName, "A.B");
  EXPECT_EQ(nested->ProcedureName, "m");
}

}  // namespace
}  // namespace vellum::exceptlog
