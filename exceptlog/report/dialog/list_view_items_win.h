// TListViewItems: a report-style list view with owner-drawn fixed rows made
// into a grouped table. Header rows carry a plus or minus sign and bold
// coloured text, nested groups are indented, and a header's sign hides and
// shows its rows. The owning dialog forwards WM_DRAWITEM, clicks and row
// activations.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <array>
#include <string>
#include <vector>

#include "exceptlog/report/dialog/dialog_bitmaps_win.h"
#include "exceptlog/report/dialog/list_row_model.h"

namespace vellum::exceptlog {

// The text of one cell of a report-style list view (column 0: the item's
// own), as the control holds it; the one reader of cells, for the dialog's
// pages and for the tests that look at them.
std::string ListViewCellText(HWND list_view, int row, int column);

class TListViewItems {
 public:
  explicit TListViewItems(HWND list_view);
  ~TListViewItems();
  TListViewItems(const TListViewItems&) = delete;
  TListViewItems& operator=(const TListViewItems&) = delete;

  void AddRow(std::vector<std::string> cells, std::string header_text, bool is_header, int group_state, int icon);
  // `point` is in the control's client coordinates; with `by_click` it
  // must hit the header's sign.
  void Toggle(int row, POINT point, bool by_click);
  // Answers a WM_DRAWITEM of the control.
  void DrawRow(const DRAWITEMSTRUCT& item);

  // The record behind a control row, -1 for none.
  int RecordOfRow(int row) const;
  const ListRowModel& Model() const { return model_; }
  HWND Control() const { return control_; }
  int Step() const { return step_; }

 private:
  void FirstRow();
  void InsertRecord(int record, int row);

  HWND control_;
  HDC dc_;
  ListRowModel model_;
  std::array<OwnedBitmap, 4> icons_;
  OwnedBitmap plus_, minus_;
  HIMAGELIST images_ = nullptr;
  win::UniqueHandle<win::GdiTraits<HBRUSH>> selected_, unselected_, selected_frame_, frame_, underline_, separator_;
  win::UniqueHandle<win::GdiTraits<HFONT>> bold_;
  std::string indent_;
  int step_ = 0;
  std::vector<int> alignments_;  // DT_LEFT, DT_RIGHT or DT_CENTER per column
  bool dc_prepared_ = false;
};

}  // namespace vellum::exceptlog
