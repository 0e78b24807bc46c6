#include "exceptlog/report/dialog/list_row_model.h"

namespace vellum::exceptlog {

namespace {

bool AllBlank(const std::vector<std::string>& cells) {
  for (const std::string& cell : cells) {
    if (cell.find_first_not_of(" \t") != std::string::npos) return false;
  }
  return true;
}

}  // namespace

int ListRowModel::Add(std::vector<std::string> cells, std::string header_text, bool is_header, int group_state,
                      int icon, const std::string& indent_prefix) {
  TListViewItemRec record;
  record.is_blank = !is_header && AllBlank(cells);
  record.cells = std::move(cells);
  record.icon = icon;
  record.is_header = is_header;
  record.group_state = group_state;
  if (is_header) ++level_;
  if (record.is_blank) level_ = 0;
  if (!record.is_blank && level_ >= 2) {
    if (record.cells.empty()) record.cells.emplace_back();
    record.cells[0] = indent_prefix + record.cells[0];
    record.indented = true;
  }
  record.header_text = std::move(header_text);
  record.previous = last_non_blank_;
  const int index = Count();
  last_non_blank_ = record.is_blank ? -1 : index;
  records_.push_back(std::move(record));
  return index;
}

int ListRowModel::RowOf(int record) const {
  int row = 0;
  for (int i = 0; i < record; ++i) row += records_[static_cast<std::size_t>(i)].visible ? 1 : 0;
  return row;
}

int ListRowModel::RecordAtRow(int row) const {
  if (row < 0) return -1;
  for (int i = 0; i < Count(); ++i) {
    if (!records_[static_cast<std::size_t>(i)].visible) continue;
    if (row-- == 0) return i;
  }
  return -1;
}

std::vector<ListRowModel::Change> ListRowModel::Toggle(int record) {
  std::vector<Change> changes;
  if (record < 0 || record >= Count() || !Record(record).is_header) return changes;
  TListViewItemRec& header = records_[static_cast<std::size_t>(record)];
  header.expanded = !header.expanded;
  const bool show = header.expanded;
  for (int i = record + 1; i < Count(); ++i) {
    TListViewItemRec& child = records_[static_cast<std::size_t>(i)];
    if (child.is_blank) break;
    if (show) {
      if (!child.visible) {
        child.visible = true;
        changes.push_back({true, i, RowOf(i)});
      }
      // The rows of a collapsed nested group stay out.
      if (child.is_header && !child.expanded) break;
    } else if (child.visible) {
      changes.push_back({false, i, RowOf(i)});
      child.visible = false;
    }
  }
  return changes;
}

bool ListRowModel::HitsSign(int record, int x, int y, int step) const {
  const int start = IsTopLevelHeader(record) ? 0 : step;
  return start + 2 <= x && x <= start + 12 && 1 < y && y < 13;
}

}  // namespace vellum::exceptlog
