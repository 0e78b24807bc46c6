#include "exceptlog/report/dialog/list_row_model.h"

#include <gtest/gtest.h>

namespace vellum::exceptlog {
namespace {

std::vector<std::string> Cells(const std::string& first) {
  return {first, "x"};
}

// header A, two rows, nested header B with one row, blank, header C, one row.
struct Groups : ::testing::Test {
  ListRowModel model;
  int a, a1, a2, b, b1, blank, c, c1;
  void SetUp() override {
    a = model.Add({"", ""}, "A", true, 1, -1, "  ");
    a1 = model.Add(Cells("a1"), "", false, 0, 0, "  ");
    a2 = model.Add(Cells("a2"), "", false, 0, 0, "  ");
    b = model.Add({"", ""}, "B", true, 0, -1, "  ");
    b1 = model.Add(Cells("b1"), "", false, 0, 3, "  ");
    blank = model.Add({" ", ""}, "", false, 0, -1, "  ");
    c = model.Add({"", ""}, "C", true, 1, -1, "  ");
    c1 = model.Add(Cells("c1"), "", false, 0, 0, "  ");
  }
  std::vector<int> Visible() const {
    std::vector<int> rows;
    for (int row = 0; model.RecordAtRow(row) >= 0; ++row) rows.push_back(model.RecordAtRow(row));
    return rows;
  }
};

TEST_F(Groups, NestingIndentsAndBlankRowsReset) {
  EXPECT_FALSE(model.Record(a1).indented);
  EXPECT_TRUE(model.Record(b1).indented);
  EXPECT_EQ(model.Record(b1).cells[0], "  b1");
  EXPECT_TRUE(model.Record(blank).is_blank);
  EXPECT_FALSE(model.Record(c1).indented);
  EXPECT_TRUE(model.IsTopLevelHeader(a));
  EXPECT_FALSE(model.IsTopLevelHeader(b));
  EXPECT_TRUE(model.IsTopLevelHeader(c));
  EXPECT_EQ(model.Record(c).previous, -1);
}

TEST_F(Groups, CollapsingStopsAtTheBlankRowAndKeepsNestedState) {
  // Removals come with the row they leave, so the control can apply them in order.
  const auto collapse = model.Toggle(a);
  ASSERT_EQ(collapse.size(), 4U);
  EXPECT_FALSE(collapse[0].insert);
  EXPECT_EQ(collapse[0].row, 1);
  EXPECT_EQ(collapse[3].row, 1);
  EXPECT_EQ(Visible(), (std::vector<int>{a, blank, c, c1}));

  model.Toggle(a);
  EXPECT_EQ(Visible(), (std::vector<int>{a, a1, a2, b, b1, blank, c, c1}));

  // A collapsed nested group stays collapsed when its parent opens again.
  model.Toggle(b);
  EXPECT_EQ(Visible(), (std::vector<int>{a, a1, a2, b, blank, c, c1}));
  model.Toggle(a);
  const auto expand = model.Toggle(a);
  ASSERT_EQ(expand.size(), 3U);
  EXPECT_TRUE(expand[0].insert);
  EXPECT_EQ(expand[0].row, 1);
  EXPECT_EQ(expand[2].record, b);
  EXPECT_EQ(expand[2].row, 3);
  EXPECT_EQ(Visible(), (std::vector<int>{a, a1, a2, b, blank, c, c1}));
}

TEST_F(Groups, OnlyHeadersToggle) {
  EXPECT_TRUE(model.Toggle(a1).empty());
  EXPECT_TRUE(model.Toggle(blank).empty());
  EXPECT_TRUE(model.Toggle(99).empty());
  EXPECT_TRUE(model.Record(a).expanded);
}

TEST_F(Groups, SignHitDependsOnNesting) {
  EXPECT_TRUE(model.HitsSign(a, 2, 2, 14));
  EXPECT_TRUE(model.HitsSign(a, 12, 12, 14));
  EXPECT_FALSE(model.HitsSign(a, 13, 5, 14));
  EXPECT_FALSE(model.HitsSign(a, 5, 1, 14));
  EXPECT_FALSE(model.HitsSign(b, 5, 5, 14));
  EXPECT_TRUE(model.HitsSign(b, 16, 5, 14));
}

}  // namespace
}  // namespace vellum::exceptlog
