#include "exceptlog/report/dialog/exception_pages_win.h"

#include <commctrl.h>
#include <richedit.h>

#include <memory>

#include "exceptlog/capture/options/customized_texts.h"
#include "exceptlog/report/dialog/dialog_rules.h"
#include "exceptlog/report/dialog/dialog_style_win.h"
#include "exceptlog/report/dialog/list_view_items_win.h"
#include "exceptlog/report/dialog/report_rich_text.h"
#include "runtime/win/gdi_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

namespace {

constexpr const char* kPageResources[] = {"EL_TAB_GENERAL", "EL_TAB_CALLSTACK", "EL_TAB_MODULESLIST", "EL_TAB_CPU",
                                          "EL_TAB_CUSTOMDATA"};
constexpr CustomizedText kPageLabels[] = {kTextDialogGeneralHeader, kTextDialogCallStackHeader,
                                          kTextDialogModulesHeader, kTextDialogCpuHeader, kTextDialogCustomDataHeader};

struct PageState {
  PageContext context;
  int number = 0;
  std::unique_ptr<TListViewItems> items;
  const std::vector<ListPageRow>* rows = nullptr;
};

// One page lives at a time; its state outlives its window's destruction so
// that WM_DESTROY can still save the column widths.
std::unique_ptr<PageState>& CurrentPageState() {
  static std::unique_ptr<PageState> state;
  return state;
}

PageState* StateOf(HWND page) {
  return reinterpret_cast<PageState*>(GetWindowLongPtrA(page, DWLP_USER));
}

std::optional<std::string> ReadProfile(const std::string& key) {
  char text[2048] = {};
  GetPrivateProfileStringA(kLayoutSection, key.c_str(), "", text, sizeof text, kLayoutFile);
  if (text[0] == '\0') return std::nullopt;
  return std::string(text);
}

struct StreamSource {
  const std::string* text;
  std::size_t position = 0;
};

DWORD CALLBACK ReadStream(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* read) {
  auto& source = *reinterpret_cast<StreamSource*>(cookie);
  const std::size_t count =
      std::min<std::size_t>(static_cast<std::size_t>(size), source.text->size() - source.position);
  std::copy_n(source.text->data() + source.position, count, buffer);
  source.position += count;
  *read = static_cast<LONG>(count);
  return 0;
}

void StreamRichText(HWND edit, const std::string& rtf) {
  StreamSource source{&rtf};
  EDITSTREAM stream{};
  stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
  stream.pfnCallback = &ReadStream;
  SendMessageA(edit, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
}

int DumpTabTwips(HWND page, std::size_t columns) {
  const win::WindowDC dc(page);
  const win::SelectedObject font(dc.get(), DialogFont(DialogFontKind::kReport));
  const std::string dashes(columns, '-');
  SIZE size{};
  GetTextExtentPoint32A(dc.get(), dashes.c_str(), static_cast<int>(dashes.size()), &size);
  return size.cx * 15;
}

void InitListPage(HWND page, PageState& state) {
  const HWND list = GetDlgItem(page, kPageContentId);
  SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont(DialogFontKind::kList)), TRUE);
  const TRuzadaModuleOptions& options = *state.context.options;
  // The column titles are consecutive texts, in column order.
  const int first_text = state.number == 1 ? kTextCallStackAddress : kTextModulesHandle;
  for (int i = 0; i < ColumnCount(state.number); ++i) {
    std::string title = options.GetText(first_text + i);
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    const bool right = state.number == 1 ? i == 5 : (i == 3 || i == 4);
    column.fmt = right ? LVCFMT_RIGHT : LVCFMT_LEFT;
    column.cx = ColumnWidth(ReadProfile(ColumnKey(state.number, i)), state.number, i);
    column.pszText = title.data();
    SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
  }
  SendMessageA(list, LVM_SETTEXTBKCOLOR, 0, RGB(255, 255, 255));
  SendMessageA(list, LVM_SETBKCOLOR, 0, RGB(255, 255, 255));
  SendMessageA(list, LVM_SETTEXTCOLOR, 0, RGB(0, 0, 0));
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  state.items = std::make_unique<TListViewItems>(list);
  state.rows = state.number == 1 ? &state.context.content->call_stack : &state.context.content->modules;
  for (const ListPageRow& row : *state.rows) {
    state.items->AddRow(row.cells, row.header_text, row.is_header, row.group_state, row.icon);
  }
}

void SaveColumnWidths(HWND page, const PageState& state) {
  const HWND list = GetDlgItem(page, kPageContentId);
  for (int i = 0; i < ColumnCount(state.number); ++i) {
    const int width = static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(i), 0));
    if (width <= 0) continue;
    WritePrivateProfileStringA(kLayoutSection, ColumnKey(state.number, i).c_str(), std::to_string(width).c_str(),
                               kLayoutFile);
  }
}

// A cell without the spaces the table pads it with.
std::string CellText(HWND list, int row, int column) {
  const std::string cell = ListViewCellText(list, row, column);
  const std::size_t first = cell.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return cell.substr(first, cell.find_last_not_of(' ') - first + 1);
}

// A row activated: a call stack row with a line asks the developer's
// listener to show the source; anything else opens or closes its group.
void ActivateRow(HWND page, PageState& state, int row) {
  if (row < 0 || state.items == nullptr) return;
  const HWND list = GetDlgItem(page, kPageContentId);
  if (state.number == 1) {
    const std::string line_cell = CellText(list, row, 5);
    const std::optional<SourceLine> line = ParseLineCell(line_cell);
    if (!line_cell.empty() && line) {
      const int record = state.items->RecordOfRow(row);
      SourceRequest request;
      request.unit = CellText(list, row, 2);
      request.class_name = CellText(list, row, 3);
      request.procedure = CellText(list, row, 4);
      request.line = line->line;
      request.offset = line->offset;
      if (record >= 0 && static_cast<std::size_t>(record) < state.rows->size()) {
        request.compile_date = (*state.rows)[static_cast<std::size_t>(record)].compile_date;
      }
      SendSourceRequest(request);
      return;
    }
  }
  state.items->Toggle(row, POINT{0, 0}, false);
}

int SelectedRow(HWND list) {
  return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

bool OnNotify(HWND page, PageState& state, const NMHDR& header) {
  if (header.idFrom != kPageContentId || state.items == nullptr) return false;
  switch (header.code) {
    case NM_CLICK: {
      const auto& click = reinterpret_cast<const NMITEMACTIVATE&>(header);
      LVHITTESTINFO hit{};
      hit.pt = click.ptAction;
      int row = static_cast<int>(SendMessageA(header.hwndFrom, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
      if (row < 0) row = SelectedRow(header.hwndFrom);
      state.items->Toggle(row, click.ptAction, true);
      return true;
    }
    case NM_DBLCLK: {
      const auto& click = reinterpret_cast<const NMITEMACTIVATE&>(header);
      LVHITTESTINFO hit{};
      hit.pt = click.ptAction;
      int row = static_cast<int>(SendMessageA(header.hwndFrom, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
      if (row < 0) row = SelectedRow(header.hwndFrom);
      ActivateRow(page, state, row);
      return true;
    }
    default: return false;
  }
}

INT_PTR CALLBACK PageProcedure(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  PageState* state = StateOf(page);
  switch (message) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<PageState*>(lparam);
      SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
      const TRuzadaModuleOptions& options = *state->context.options;
      const DialogContent& content = *state->context.content;
      SetDlgItemTextA(page, kPageLabelId, options.GetText(kPageLabels[state->number]).c_str());
      SendDlgItemMessageA(page, kPageLabelId, WM_SETFONT,
                          reinterpret_cast<WPARAM>(DialogFont(DialogFontKind::kMessage)), TRUE);
      const HWND control = GetDlgItem(page, kPageContentId);
      const RichTextFont font{UserCharacterSet(), ReportFontFace(), DialogFontPointSize()};
      switch (state->number) {
        case 0:
        case 3:
          SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont(DialogFontKind::kReport)), TRUE);
          SendMessageA(control, EM_SETBKGNDCOLOR, 0, RGB(255, 255, 255));
          StreamRichText(control, state->number == 0
                                      ? GeneralRichText(content.general, font)
                                      : CpuRichText(content.cpu, font, DumpTabTwips(page, CpuDumpColumn(content.cpu))));
          break;
        case 4:
          SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont(DialogFontKind::kReport)), TRUE);
          SetWindowTextA(control, content.custom_data.c_str());
          break;
        default: InitListPage(page, *state); break;
      }
      return TRUE;
    }
    case WM_DRAWITEM:
      if (state != nullptr && state->items != nullptr && wparam == kPageContentId) {
        state->items->DrawRow(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
        SetWindowLongPtrA(page, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    case WM_NOTIFY:
      if (state == nullptr) return FALSE;
      NoteDialogActivity(state->context.dialog);
      return OnNotify(page, *state, *reinterpret_cast<const NMHDR*>(lparam)) ? TRUE : FALSE;
    case WM_COMMAND:
      if (state == nullptr) return FALSE;
      NoteDialogActivity(state->context.dialog);
      // Enter on a list row activates it, as a double click does.
      if (LOWORD(wparam) == IDOK && state->items != nullptr) {
        ActivateRow(page, *state, SelectedRow(GetDlgItem(page, kPageContentId)));
        return TRUE;
      }
      return FALSE;
    case WM_CTLCOLORSTATIC:
      // The read-only edit of the Other page stays white like the rich edits.
      if (reinterpret_cast<HWND>(lparam) == GetDlgItem(page, kPageContentId)) {
        SetBkColor(reinterpret_cast<HDC>(wparam), RGB(255, 255, 255));
        return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
      }
      [[fallthrough]];
    case WM_CTLCOLORDLG:
      if (state == nullptr || !HasOwnStyle(state->context.dialog)) return FALSE;
      SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
      return reinterpret_cast<INT_PTR>(DialogBackgroundBrush(state->context.dialog));
    case WM_DESTROY:
      if (state != nullptr) {
        if (state->items != nullptr) SaveColumnWidths(page, *state);
        SetWindowLongPtrA(page, DWLP_USER, 0);
      }
      return FALSE;
    default: return FALSE;
  }
}

}  // namespace

void FitReportPage(HWND page_control, HWND page) {
  if (page == nullptr) return;
  RECT area{};
  GetClientRect(page_control, &area);
  SendMessageA(page_control, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  OffsetRect(&area, -3, -1);
  const int width = area.right - area.left, height = area.bottom - area.top;
  SetWindowPos(page, nullptr, area.left, area.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(GetDlgItem(page, kPageLabelId), nullptr, 6, 4, std::max(0, width - 8), 16,
               SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(GetDlgItem(page, kPageContentId), nullptr, 6, 20, std::max(0, width - 8), std::max(0, height - 24),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND CreateReportPage(const PageContext& context, HWND page_control, HWND current, int number) {
  DestroyReportPage(current);
  if (number < 0 || number > 4) return nullptr;
  auto state = std::make_unique<PageState>();
  state->context = context;
  state->number = number;
  const HWND page = CreateDialogParamA(DialogResourceModule(), kPageResources[number], page_control, &PageProcedure,
                                       reinterpret_cast<LPARAM>(state.get()));
  if (page == nullptr) return nullptr;
  CurrentPageState() = std::move(state);
  FitReportPage(page_control, page);
  ShowWindow(page, SW_SHOW);
  return page;
}

void DestroyReportPage(HWND page) {
  if (page != nullptr && IsWindow(page)) DestroyWindow(page);
  CurrentPageState().reset();
}

bool SendSourceRequest(const SourceRequest& request) {
  const win::UniqueHandle<win::FileHandleTraits> slot(CreateFileA(
      kSourceRequestMailslot, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!slot) return false;
  const auto bytes = EncodeSourceRequest(request);
  DWORD written = 0;
  return WriteFile(slot.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

}  // namespace vellum::exceptlog
