// The rows of a grouped list (the Call Stack and Modules pages): which
// records are headers, how deep they nest, and which rows a header's sign
// shows or hides. The list view control mirrors the visible records in
// order; this model says where each insertion and removal goes.
#pragma once

#include <string>
#include <vector>

namespace vellum::exceptlog {

struct TListViewItemRec {
  std::vector<std::string> cells;
  int icon = -1;  // 0..3, -1 none
  bool indented = false;
  int group_state = 0;  // headers: non-zero is the running thread's look
  bool is_header = false;
  bool expanded = true;
  bool is_blank = false;
  bool visible = true;
  std::string header_text;
  int previous = -1;  // the last non-blank record before it, -1 after a blank row
};

class ListRowModel {
 public:
  // Answers the new record's index; it is visible, at the end.
  int Add(std::vector<std::string> cells, std::string header_text, bool is_header, int group_state, int icon,
          const std::string& indent_prefix);

  struct Change {
    bool insert = false;  // else removed
    int record = 0;
    int row = 0;  // the control row it is inserted at or removed from
  };
  // Flips a header's group; the changes in the order the control applies
  // them. Nothing for a record that is no header.
  std::vector<Change> Toggle(int record);

  int Count() const { return static_cast<int>(records_.size()); }
  const TListViewItemRec& Record(int index) const { return records_.at(static_cast<std::size_t>(index)); }
  // The control row of a visible record (the visible records before it).
  int RowOf(int record) const;
  // -1 when no record is at that row.
  int RecordAtRow(int row) const;
  bool IsTopLevelHeader(int record) const { return Record(record).is_header && Record(record).previous < 0; }

  // Does a point relative to a header row's top-left corner hit its sign?
  // `step` is the width of one nesting step.
  bool HitsSign(int record, int x, int y, int step) const;

 private:
  std::vector<TListViewItemRec> records_;
  int level_ = 0;
  int last_non_blank_ = -1;
};

}  // namespace vellum::exceptlog
