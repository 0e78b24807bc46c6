#include "exceptlog/report/dialog/dialog_rules.h"

#include <gtest/gtest.h>

#include <map>

#include "exceptlog/report/dialog/source_request.h"

namespace vellum::exceptlog {
namespace {

TEST(OptionArea, OneRowOrTwo) {
  EXPECT_EQ(OptionAreaHeight(false, false, false, false), 0);
  EXPECT_EQ(OptionAreaHeight(false, false, true, false), 20);
  EXPECT_EQ(OptionAreaHeight(false, false, false, true), 20);
  EXPECT_EQ(OptionAreaHeight(true, false, true, false), 20);
  EXPECT_EQ(OptionAreaHeight(true, true, false, false), 34);
  EXPECT_EQ(OptionAreaHeight(false, false, true, true), 34);
}

TEST(Pages, FirstPageAndTabIndexCountOnlyPresentPages) {
  const PresentPages all{true, true, true};
  const PresentPages no_custom{true, true, false};
  EXPECT_EQ(FirstPageNumber(4, no_custom), 0);
  EXPECT_EQ(FirstPageNumber(4, all), 4);
  EXPECT_EQ(FirstPageNumber(0x83, all), 3);  // the top bit is no page
  EXPECT_EQ(FirstPageNumber(3, PresentPages{true, false, true}), 0);
  EXPECT_EQ(FirstPageNumber(9, all), 0);

  const PresentPages no_modules{false, true, true};
  EXPECT_EQ(TabIndexOfPage(3, no_modules), 2);
  EXPECT_EQ(TabIndexOfPage(4, PresentPages{false, false, true}), 2);
  EXPECT_EQ(TabIndexOfPage(4, PresentPages{true, false, true}), 3);
  for (int page = 0; page <= 4; ++page) {
    if (!no_modules.Has(page)) continue;
    EXPECT_EQ(PageOfTabIndex(TabIndexOfPage(page, no_modules), no_modules), page);
  }
  EXPECT_EQ(PageOfTabIndex(4, no_modules), -1);
}

TEST(Layout, ReadClampsIntoTheScreen) {
  std::map<std::string, std::string> stored;
  const auto read = [&](const std::string& key) -> std::optional<std::string> {
    auto found = stored.find(key);
    if (found == stored.end()) return std::nullopt;
    return found->second;
  };
  const ScreenSize screen{1024, 768};
  SavedLayout layout = ReadLayout(read, screen, 34);
  EXPECT_EQ(layout.width, 745);
  EXPECT_EQ(layout.height, 468);
  EXPECT_EQ(layout.left, (1024 - 745) / 2);
  EXPECT_EQ(layout.top, (768 - 468 - 34) / 2);
  EXPECT_EQ(layout.state, 1);

  stored = {{"Width", "600"}, {"Height", "400"}, {"Left", "900"}, {"Top", "500"}, {"WindowsState", "3"}};
  layout = ReadLayout(read, screen, 20);
  EXPECT_EQ(layout.left, 1024 - 600);
  EXPECT_EQ(layout.top, 768 - 400 - 20);
  EXPECT_EQ(layout.state, 3);

  stored = {{"Width", "x"}, {"Left", "-50"}, {"Top", "-3"}, {"WindowsState", "9"}};
  layout = ReadLayout(read, screen, 0);
  EXPECT_EQ(layout.width, 745);
  EXPECT_EQ(layout.left, 0);
  EXPECT_EQ(layout.top, 0);
  EXPECT_EQ(layout.state, 1);

  // Wider than the screen: it could not be pulled back inside.
  stored = {{"Width", "5000"}, {"Left", "10"}};
  layout = ReadLayout(read, {800, 600}, 0);
  EXPECT_LE(layout.left + layout.width, 800);
}

TEST(Layout, SavesBoundsOnlyInTheNormalState) {
  EXPECT_TRUE(LayoutToSave(std::nullopt).empty());
  SavedLayout layout{700, 400, 10, 20, 1};
  const auto normal = LayoutToSave(layout);
  ASSERT_EQ(normal.size(), 5U);
  EXPECT_EQ(normal[0], (std::pair<std::string, std::string>{"Width", "700"}));
  EXPECT_EQ(normal[3], (std::pair<std::string, std::string>{"Top", "20"}));
  layout.state = 3;
  const auto maximised = LayoutToSave(layout);
  ASSERT_EQ(maximised.size(), 1U);
  EXPECT_EQ(maximised[0], (std::pair<std::string, std::string>{"WindowsState", "3"}));
}

TEST(Columns, CrossedModuleKeysAndDefaults) {
  EXPECT_EQ(ColumnKey(2, 5), "ColMod6");
  EXPECT_EQ(ColumnKey(2, 6), "ColMod5");
  EXPECT_EQ(DefaultColumnWidth(2, 6), 712);
  EXPECT_EQ(ColumnKey(1, 5), "Col5");
  EXPECT_EQ(ColumnKey(1, 6), "");
  EXPECT_EQ(ColumnWidth(std::string("140"), 1, 0), 140);
  EXPECT_EQ(ColumnWidth(std::string("0"), 1, 0), 89);
  EXPECT_EQ(ColumnWidth(std::string("12a"), 1, 4), 200);
  EXPECT_EQ(ColumnWidth(std::nullopt, 2, 3), 50);
}

TEST(ModuleTexts, VersionAndSize) {
  EXPECT_EQ(ShortVersion("5.0.4.13"), "5.0.x");
  EXPECT_EQ(ShortVersion("5.0.4"), "5.0.x");
  EXPECT_EQ(ShortVersion("5.0"), "5.0");
  EXPECT_EQ(ShortVersion(""), "");
  EXPECT_EQ(KilobyteText(0), "0 Kb");
  EXPECT_EQ(KilobyteText(1535), "1 Kb");
  EXPECT_EQ(KilobyteText(1536), "2 Kb");
  EXPECT_EQ(KilobyteText(0xFFFFFFFF), "4194304 Kb");
}

TEST(LineCell, LineAndOffset) {
  auto source = ParseLineCell("123[4]");
  ASSERT_TRUE(source);
  EXPECT_EQ(source->line, 123);
  EXPECT_EQ(source->offset, 4);
  source = ParseLineCell("123");
  ASSERT_TRUE(source);
  EXPECT_EQ(source->offset, -1);
  EXPECT_FALSE(ParseLineCell(""));
  EXPECT_FALSE(ParseLineCell("[4]"));
  source = ParseLineCell("99999999999[1]");  // no overflow into a negative line
  EXPECT_TRUE(!source || source->line >= 0);
}

TEST(MessageSize, WideLinesWrapAtTheLimit) {
  const auto width_of = [](const std::string& line) { return static_cast<int>(line.size()) * 10; };
  MessageSize size = MeasureMessage({"abc", "", "abcdef"}, width_of, 13, 60);
  EXPECT_EQ(size.width, 76);
  EXPECT_EQ(size.height, 39);
  // 100 characters are 1000 pixels: limit 580, the line takes two more.
  size = MeasureMessage({std::string(100, 'x'), "a"}, width_of, 13, 60);
  EXPECT_EQ(size.width, 580);
  EXPECT_EQ(size.height, 13 * 2 + 13 * ((1016 - 580) / 580 + 1));
}

TEST(TextLines, EveryKindOfBreak) {
  EXPECT_EQ(TextLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(TextLines(""), (std::vector<std::string>{""}));
}

TEST(SourceRequest, FixedRecordRoundTrip) {
  SourceRequest request{"sample_faults_win.cpp", "TSample", "Raise", 45000.5, 123, 4};
  const auto bytes = EncodeSourceRequest(request);
  EXPECT_EQ(bytes.size(), 4112U);
  EXPECT_EQ(bytes[4104], 123);
  EXPECT_EQ(bytes[4108], 4);
  EXPECT_EQ(bytes[2048], 'T');
  const auto decoded = DecodeSourceRequest(bytes.data(), bytes.size());
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->unit, request.unit);
  EXPECT_EQ(decoded->procedure, "Raise");
  EXPECT_EQ(decoded->compile_date, 45000.5);
  EXPECT_EQ(decoded->offset, 4);
  EXPECT_FALSE(DecodeSourceRequest(bytes.data(), 4111));

  EXPECT_EQ(SourceRequestText(request),
            "sample_faults_win.cpp: TSample.Raise line 123 [+4] (compiled 2023-03-15 12:00:00)");
  EXPECT_EQ(SourceRequestText({"u.cpp", "", "main", 0, 7, -1}), "u.cpp: main line 7");

  request.unit = std::string(5000, 'u');  // stays terminated inside its field
  const auto cut = EncodeSourceRequest(request);
  EXPECT_EQ(cut[2047], 0);
  EXPECT_EQ(DecodeSourceRequest(cut.data(), cut.size())->unit.size(), 2047U);
}

}  // namespace
}  // namespace vellum::exceptlog
