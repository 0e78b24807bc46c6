#include "exceptlog/report/dialog/list_view_items_win.h"

#include "exceptlog/report/dialog/dialog_style_win.h"
#include "runtime/win/gdi_win.h"

namespace vellum::exceptlog {

namespace {

HBRUSH Solid(COLORREF colour) {
  return CreateSolidBrush(colour);
}

}  // namespace

std::string ListViewCellText(HWND list_view, int row, int column) {
  char text[1024] = {};
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  SendMessageA(list_view, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return text;
}

TListViewItems::TListViewItems(HWND list_view)
    : control_(list_view),
      dc_(GetDC(list_view)),
      icons_{CreateDialogBitmap("EL_DLL"), CreateDialogBitmap("EL_BPL"), CreateDialogBitmap("EL_VCL"),
             CreateDialogBitmap("EL_PAS")},
      plus_(CreateDialogBitmap("EL_PLUS")),
      minus_(CreateDialogBitmap("EL_MINUS")),
      selected_(Solid(RGB(204, 218, 241))),
      unselected_(Solid(RGB(255, 255, 255))),
      selected_frame_(Solid(RGB(49, 106, 197))),
      frame_(Solid(RGB(152, 181, 226))),
      underline_(Solid(RGB(123, 164, 224))),
      separator_(Solid(RGB(206, 203, 194))) {
  images_ = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 4, 0);
  for (const OwnedBitmap& icon : icons_) {
    // The image list masks a copy: the bitmaps themselves stay as drawn.
    const HBITMAP copy = static_cast<HBITMAP>(CopyImage(icon.get(), IMAGE_BITMAP, 0, 0, 0));
    ImageList_AddMasked(images_, copy, kBitmapTransparent);
    DeleteObject(copy);
  }
  SendMessageA(control_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images_));
}

TListViewItems::~TListViewItems() {
  if (IsWindow(control_)) SendMessageA(control_, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
  ImageList_Destroy(images_);
  ReleaseDC(control_, dc_);
}

void TListViewItems::FirstRow() {
  const HWND header = reinterpret_cast<HWND>(SendMessageA(control_, LVM_GETHEADER, 0, 0));
  const int columns = header != nullptr ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
  alignments_.clear();
  for (int i = 0; i < columns; ++i) {
    LVCOLUMNA column{};
    column.mask = LVCF_FMT;
    SendMessageA(control_, LVM_GETCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    const int format = column.fmt & LVCFMT_JUSTIFYMASK;
    alignments_.push_back(format == LVCFMT_RIGHT ? DT_RIGHT : format == LVCFMT_CENTER ? DT_CENTER : DT_LEFT);
  }
  const HFONT font = reinterpret_cast<HFONT>(SendMessageA(control_, WM_GETFONT, 0, 0));
  {
    const win::SelectedObject selected(dc_, font);
    SIZE size{};
    indent_.clear();
    do {
      indent_ += ' ';
      GetTextExtentPoint32A(dc_, indent_.c_str(), static_cast<int>(indent_.size()), &size);
    } while (size.cx < 14 && indent_.size() < 64);
    step_ = size.cx;
  }
  LOGFONTA bold{};
  GetObjectA(font != nullptr ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT), sizeof bold, &bold);
  bold.lfWeight = FW_BOLD;
  bold_.reset(CreateFontIndirectA(&bold));
}

void TListViewItems::AddRow(std::vector<std::string> cells, std::string header_text, bool is_header, int group_state,
                            int icon) {
  if (model_.Count() == 0) FirstRow();
  const int record = model_.Add(std::move(cells), std::move(header_text), is_header, group_state, icon, indent_);
  InsertRecord(record, static_cast<int>(SendMessageA(control_, LVM_GETITEMCOUNT, 0, 0)));
}

void TListViewItems::InsertRecord(int record, int row) {
  const TListViewItemRec& rec = model_.Record(record);
  std::string first = rec.cells.empty() ? std::string() : rec.cells[0];
  LVITEMA item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
  item.iItem = row;
  item.pszText = first.data();
  item.iImage = rec.icon;
  item.lParam = record;
  const int at = static_cast<int>(SendMessageA(control_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  for (std::size_t i = 1; i < rec.cells.size(); ++i) {
    std::string text = rec.cells[i];
    LVITEMA sub{};
    sub.iSubItem = static_cast<int>(i);
    sub.pszText = text.data();
    SendMessageA(control_, LVM_SETITEMTEXTA, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&sub));
  }
}

int TListViewItems::RecordOfRow(int row) const {
  LVITEMA item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (row < 0 || !SendMessageA(control_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return -1;
  return static_cast<int>(item.lParam);
}

void TListViewItems::Toggle(int row, POINT point, bool by_click) {
  const int record = RecordOfRow(row);
  if (record < 0 || !model_.Record(record).is_header) return;
  if (by_click) {
    RECT bounds{};
    bounds.left = LVIR_BOUNDS;
    SendMessageA(control_, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds));
    if (!model_.HitsSign(record, point.x - bounds.left, point.y - bounds.top, step_)) return;
  }
  SendMessageA(control_, WM_SETREDRAW, FALSE, 0);
  for (const ListRowModel::Change& change : model_.Toggle(record)) {
    if (change.insert) {
      InsertRecord(change.record, change.row);
    } else {
      SendMessageA(control_, LVM_DELETEITEM, static_cast<WPARAM>(change.row), 0);
    }
  }
  SendMessageA(control_, WM_SETREDRAW, TRUE, 0);
  SendMessageA(control_, LVM_REDRAWITEMS, static_cast<WPARAM>(row), static_cast<LPARAM>(row));
  InvalidateRect(control_, nullptr, TRUE);
}

void TListViewItems::DrawRow(const DRAWITEMSTRUCT& item) {
  const int record_index = static_cast<int>(item.itemData);
  if (record_index < 0 || record_index >= model_.Count()) return;
  const TListViewItemRec& record = model_.Record(record_index);
  const HDC dc = item.hDC;
  if (!dc_prepared_) {
    SetBkMode(dc_, TRANSPARENT);
    dc_prepared_ = true;
  }
  SetBkMode(dc, TRANSPARENT);
  RECT row = item.rcItem;
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  const int indent = record.indented ? step_ : 0;

  RECT background{row.left + 2 + indent, row.top, row.right, row.bottom};
  FillRect(dc, &background, selected ? selected_.get() : unselected_.get());

  if (record.is_header) {
    COLORREF colour = RGB(96, 96, 96);
    if (item.itemID == 0) {
      colour = RGB(128, 0, 0);
    } else if (record.group_state != 0) {
      colour = RGB(0, 0, 128);
    }
    if (item.itemID != 0 && record.group_state == 0) OffsetRect(&row, step_, 0);
    RECT underline{row.left + 2, row.bottom - 2, row.right, row.bottom};
    FillRect(dc, &underline, underline_.get());
    RECT text{row.left + 15, row.top - 1, row.right, row.bottom};
    SetTextColor(dc, colour);
    const win::SelectedObject font(dc, bold_.get());
    DrawTextA(dc, record.header_text.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    DrawTransparentBitmap(dc, record.expanded ? minus_.get() : plus_.get(), row.left + 1, row.top + 1);
  } else {
    if (record.icon >= 0) {
      ImageList_Draw(images_, record.icon, dc, row.left + 2 + indent, row.top, ILD_TRANSPARENT);
    }
    SetTextColor(dc, RGB(0, 0, 0));
    const HFONT font = reinterpret_cast<HFONT>(SendMessageA(control_, WM_GETFONT, 0, 0));
    const win::SelectedObject selected_font(dc, font);
    int x = row.left;
    for (std::size_t i = 0; i < record.cells.size() && i < alignments_.size(); ++i) {
      const int width = static_cast<int>(SendMessageA(control_, LVM_GETCOLUMNWIDTH, i, 0));
      RECT cell{i == 0 ? x + 20 : x + 6, row.top, i == 0 ? x + width + 4 - 6 : x + width - 6, row.bottom};
      const std::string text = i == 0 ? ListViewCellText(control_, static_cast<int>(item.itemID), 0) : record.cells[i];
      DrawTextA(dc, text.c_str(), -1, &cell,
                static_cast<UINT>(alignments_[i]) | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
      x += width;
    }
    if (!record.is_blank) {
      RECT line{row.left + 2 + indent, row.bottom - 1, row.right, row.bottom};
      FillRect(dc, &line, separator_.get());
    }
  }
  if ((item.itemState & ODS_FOCUS) != 0) {
    RECT focus{item.rcItem.left + 2 + indent, item.rcItem.top, item.rcItem.right, item.rcItem.bottom};
    FrameRect(dc, &focus, selected && GetFocus() == control_ ? selected_frame_.get() : frame_.get());
  }
}

}  // namespace vellum::exceptlog
