#include "exceptlog/report/dialog/exception_dialog_win.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <optional>

#include "exceptlog/capture/options/customized_texts.h"
#include "exceptlog/report/dialog/dialog_bitmaps_win.h"
#include "exceptlog/report/dialog/dialog_rules.h"
#include "exceptlog/report/dialog/dialog_style_win.h"
#include "exceptlog/report/dialog/exception_pages_win.h"
#include "runtime/win/gdi_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

namespace {

enum : int {
  kOk = 2,
  kTerminate = 3,
  kDetails = 4,
  kMessage = 101,
  kSeparator = 2000,
  kSendBox = 3000,
  kScreenshotBox = 4000,
  kCopyBox = 5000,
};
constexpr UINT_PTR kShownCheckTimer = 1;
// The tab of each page, by page number (general, call stack, modules, CPU, other).
constexpr CustomizedText kPageCaptions[] = {kTextDialogGeneralCaption, kTextDialogCallStackCaption,
                                            kTextDialogModulesCaption, kTextDialogCpuCaption,
                                            kTextDialogCustomDataCaption};

struct DialogRun {
  const ExceptionDialogInput* input = nullptr;
  const TRuzadaModuleOptions* options = nullptr;
  HWND dialog = nullptr;
  HWND page = nullptr;
  PageContext page_context;
  PresentPages pages;
  bool details = false;
  bool send_possible = false, screenshot_possible = false, copy_offered = false, support_link = false;
  int option_area = 0;
  bool shown = false;
  bool terminate = false;
  bool send = false, screenshot = false, copy = false;
  OwnedBitmap error_bitmap;
  // The detailed mode's bounds once it had a size.
  std::optional<SavedLayout> layout;
  RECT link{};
  bool over_link = false;
};

DialogRun* current = nullptr;

const std::string& T(const DialogRun& run, CustomizedText text) {
  return run.options->GetText(text);
}

HFONT Font(DialogFontKind kind) {
  return DialogFont(kind);
}

void SetFont(HWND dialog, int id, HFONT font) {
  SendDlgItemMessageA(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

int TextWidth(HWND window, HFONT font, const std::string& text) {
  const win::WindowDC dc(window);
  const win::SelectedObject selected(dc.get(), font);
  SIZE size{};
  GetTextExtentPoint32A(dc.get(), text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

int LineHeight(HWND window, HFONT font) {
  const win::WindowDC dc(window);
  const win::SelectedObject selected(dc.get(), font);
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc.get(), &metrics);
  return metrics.tmHeight;
}

std::optional<std::string> ReadProfile(const std::string& key) {
  char text[2048] = {};
  GetPrivateProfileStringA(kLayoutSection, key.c_str(), "", text, sizeof text, kLayoutFile);
  if (text[0] == '\0') return std::nullopt;
  return std::string(text);
}

ScreenSize Screen() {
  return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

void SaveLayout(const DialogRun& run) {
  for (const auto& [key, value] : LayoutToSave(run.layout)) {
    WritePrivateProfileStringA(kLayoutSection, key.c_str(), value.c_str(), kLayoutFile);
  }
}

void SetStyleBits(HWND window, LONG bits, bool on) {
  const LONG style = GetWindowLongA(window, GWL_STYLE);
  SetWindowLongA(window, GWL_STYLE, on ? style | bits : style & ~bits);
}

void ApplyMode(DialogRun& run) {
  const HWND dialog = run.dialog;
  const bool own = HasOwnStyle(dialog);
  const bool on = run.details;
  SetStyleBits(dialog, WS_THICKFRAME | WS_MAXIMIZEBOX | (own ? 0 : WS_SYSMENU), on);
  if (!on && !own) SetStyleBits(dialog, WS_SYSMENU, true);
  SetWindowPos(dialog, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  SetDlgItemTextA(
      dialog, kDetails,
      on ? ("<< " + T(run, kTextDialogDetailsButton)).c_str() : (T(run, kTextDialogDetailsButton) + " >>").c_str());
  const HWND message = GetDlgItem(dialog, kMessage);
  const HWND tabs = GetDlgItem(dialog, kPageControlId);
  if (on) {
    SetWindowTextA(message, T(run, kTextDialogErrorMessage).c_str());
    const SavedLayout layout = ReadLayout(ReadProfile, Screen(), run.option_area);
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(dialog, &placement);
    placement.rcNormalPosition = {layout.left, layout.top, layout.left + layout.width,
                                  layout.top + layout.height + run.option_area};
    // A minimised modal dialog would leave the user nothing to click.
    placement.showCmd = layout.state == 3 ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    if (!IsWindowVisible(dialog)) {
      SetWindowPos(dialog, nullptr, layout.left, layout.top, layout.width, layout.height + run.option_area,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      if (layout.state == 3) PostMessageA(dialog, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    } else {
      SetWindowPlacement(dialog, &placement);
    }
    ShowWindow(tabs, SW_SHOW);
  } else {
    if (IsZoomed(dialog)) ShowWindow(dialog, SW_RESTORE);
    SetWindowTextA(message, run.input->content.message.c_str());
    std::vector<std::string> lines = TextLines(run.input->content.message);
    lines.push_back(T(run, kTextDialogSendOption) + "    " + T(run, kTextDialogCopyOption));
    const HFONT font = Font(DialogFontKind::kMessage);
    const int frame_width = GetSystemMetrics(SM_CXDLGFRAME);
    const int frame_height = GetSystemMetrics(SM_CYDLGFRAME);
    const int margin = 2 * frame_width + 58;
    const MessageSize size = MeasureMessage(
        lines, [&](const std::string& line) { return TextWidth(dialog, font, line); }, LineHeight(dialog, font),
        margin);
    const int width = std::max(250, size.width + margin);
    const int height =
        std::max(0, size.height - 39) + 2 * frame_height + StyledCaptionHeight(dialog) + 86 + run.option_area;
    const ScreenSize screen = Screen();
    SetWindowPos(message, nullptr, 48, 8, width - margin, size.height, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(dialog, nullptr, (screen.width - width) / 2, (screen.height - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(tabs, SW_HIDE);
  }
}

void Layout(DialogRun& run) {
  const HWND dialog = run.dialog;
  RECT client{};
  GetClientRect(dialog, &client);
  const int W = client.right, H = client.bottom, A = run.option_area;
  const HWND tabs = GetDlgItem(dialog, kPageControlId);
  SetWindowPos(tabs, nullptr, 4, 52, std::max(0, W - 8), std::max(0, H - 90 - A), SWP_NOZORDER | SWP_NOACTIVATE);
  if (run.details) SetWindowPos(GetDlgItem(dialog, kMessage), nullptr, 48, 8, W - 56, 42, SWP_NOZORDER);

  const HFONT font = Font(DialogFontKind::kMessage);
  int button = 75;
  for (CustomizedText text :
       {kTextDialogOkButton, kTextDialogTerminateButton, kTextDialogRestartButton, kTextDialogDetailsButton}) {
    button = std::max(button, TextWidth(dialog, font, T(run, text) + "O"));
  }
  const int y = H - A - 32;
  SetWindowPos(GetDlgItem(dialog, kOk), nullptr, (W - button) / 2, y, button, 25, SWP_NOZORDER);
  const bool terminate =
      run.options->TerminateButtonEnabled() && run.input->error_count > run.options->TerminateButtonAfter();
  SetWindowPos(GetDlgItem(dialog, kTerminate), nullptr, 5, y, button, 25,
               SWP_NOZORDER | (terminate ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
  const bool details = run.options->DialogFlags().Contains(dfDetailsButton);
  SetWindowPos(GetDlgItem(dialog, kDetails), nullptr, W - button - 5, y, button, 25,
               SWP_NOZORDER | (details ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));

  const int half = (W - 8) / 2;
  SetWindowPos(GetDlgItem(dialog, kSendBox), nullptr, 4, y + 34, half, 16, SWP_NOZORDER);
  SetWindowPos(GetDlgItem(dialog, kCopyBox), nullptr, W - half - 4, y + 34, half, 16, SWP_NOZORDER);
  SetWindowPos(GetDlgItem(dialog, kScreenshotBox), nullptr, 23, y + 50, W / 2, 16, SWP_NOZORDER);

  if (run.support_link) {
    const int width = TextWidth(dialog, Font(DialogFontKind::kLink), T(run, kTextDialogSupportLink));
    const int top = y + 34 + (run.copy_offered ? 16 : 0);
    run.link = {W - width - 4, top, W - 4, top + 13};
  }
  InvalidateRect(dialog, nullptr, TRUE);

  if (IsZoomed(dialog)) {
    if (run.layout) run.layout->state = 3;
  } else if (IsIconic(dialog)) {
    if (run.layout) run.layout->state = 6;
  } else if (run.details) {
    RECT window{};
    GetWindowRect(dialog, &window);
    SavedLayout layout = run.layout.value_or(SavedLayout{});
    layout.state = 1;
    layout.width = window.right - window.left;
    layout.height = window.bottom - window.top - A;
    layout.left = window.left;
    layout.top = window.top;
    run.layout = layout;
  }
  FitReportPage(tabs, run.page);
}

void Paint(DialogRun& run) {
  run.shown = true;
  const win::PaintScope paint(run.dialog);
  DrawTransparentBitmap(paint.get(), run.error_bitmap.get(), 8, 8);
  if (run.support_link) {
    const win::SelectedObject font(paint.get(), Font(DialogFontKind::kLink));
    SetBkMode(paint.get(), TRANSPARENT);
    SetTextColor(paint.get(), RGB(0, 0, 128));
    RECT link = run.link;
    DrawTextA(paint.get(), T(run, kTextDialogSupportLink).c_str(), -1, &link, DT_RIGHT | DT_SINGLELINE | DT_NOPREFIX);
  }
}

void InitDialog(DialogRun& run, HWND dialog) {
  current = &run;
  run.dialog = dialog;
  const TRuzadaModuleOptions& options = *run.options;
  const ExceptionDialogInput& input = *run.input;
  BeginStyledDialog(
      dialog,
      {.flags = options.DialogFlags(), .fit_height = false, .auto_close_seconds = options.DialogAutoCloseSeconds()});
  run.send_possible = (options.MailMethod() != 0 || options.UploadMethod() != 0) && !input.duplicate;
  run.screenshot_possible = options.SendFlags().Contains(sfScreenshot) && run.send_possible;
  run.copy_offered = options.DialogFlags().Contains(dfCopyOption);
  const std::string& page = options.SupportPage();
  run.support_link = page.find_first_not_of(" \t") != std::string::npos;
  run.option_area = OptionAreaHeight(run.send_possible, run.screenshot_possible, run.copy_offered, run.support_link);
  SetForegroundWindow(dialog);
  run.details = options.DialogFlags().Contains(dfDetailsOpen);
  run.error_bitmap = CreateDialogBitmap("EL_Error");

  const HFONT message_font = Font(DialogFontKind::kMessage);
  for (int id : {kMessage, kOk, kTerminate, kDetails, kSendBox, kScreenshotBox, kCopyBox}) {
    SetFont(dialog, id, message_font);
  }
  SetDlgItemTextA(dialog, kOk, T(run, kTextDialogOkButton).c_str());
  SetDlgItemTextA(
      dialog, kTerminate,
      T(run, options.TerminateAction() != 0 ? kTextDialogRestartButton : kTextDialogTerminateButton).c_str());
  SetDlgItemTextA(dialog, kSendBox, T(run, kTextDialogSendOption).c_str());
  SetDlgItemTextA(dialog, kScreenshotBox, T(run, kTextDialogScreenshotOption).c_str());
  SetDlgItemTextA(dialog, kCopyBox, T(run, kTextDialogCopyOption).c_str());

  const bool send = input.send_choice && options.DialogFlags().Contains(dfSendChecked);
  CheckDlgButton(dialog, kSendBox, send ? BST_CHECKED : BST_UNCHECKED);
  EnableWindow(GetDlgItem(dialog, kScreenshotBox), send);
  const bool screenshot = input.screenshot_choice && options.DialogFlags().Contains(dfScreenshotChecked);
  CheckDlgButton(dialog, kScreenshotBox, screenshot ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, kCopyBox, BST_UNCHECKED);
  ShowWindow(GetDlgItem(dialog, kSendBox), run.send_possible ? SW_SHOW : SW_HIDE);
  ShowWindow(GetDlgItem(dialog, kScreenshotBox), run.screenshot_possible ? SW_SHOW : SW_HIDE);
  ShowWindow(GetDlgItem(dialog, kCopyBox), run.copy_offered ? SW_SHOW : SW_HIDE);
  ShowWindow(GetDlgItem(dialog, kSeparator), SW_HIDE);

  SetStyledCaption(dialog, T(run, kTextDialogCaption));
  run.pages = {options.LogFlags().Contains(lfModulesSection), options.LogFlags().Contains(lfCpuSection),
               !input.content.custom_data.empty()};
  const HWND tabs = GetDlgItem(dialog, kPageControlId);
  SetFont(dialog, kPageControlId, message_font);
  for (int number = 0, index = 0; number <= 4; ++number) {
    if (!run.pages.Has(number)) continue;
    std::string text = T(run, kPageCaptions[number]);
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    SendMessageA(tabs, TCM_INSERTITEMA, static_cast<WPARAM>(index++), reinterpret_cast<LPARAM>(&item));
  }
  run.page_context = {dialog, run.options, &input.content};
  const int first = FirstPageNumber(options.DialogFirstTab(), run.pages);
  run.page = CreateReportPage(run.page_context, tabs, nullptr, first);
  SendMessageA(tabs, TCM_SETCURSEL, static_cast<WPARAM>(TabIndexOfPage(first, run.pages)), 0);
  SetFocus(GetDlgItem(dialog, kOk));

  ApplyMode(run);
  Layout(run);
  SetTimer(dialog, kShownCheckTimer, 1, nullptr);
}

void Destroy(DialogRun& run) {
  KillTimer(run.dialog, kShownCheckTimer);
  EndStyledDialog(run.dialog);
  run.send = IsDlgButtonChecked(run.dialog, kSendBox) == BST_CHECKED;
  run.screenshot = IsDlgButtonChecked(run.dialog, kScreenshotBox) == BST_CHECKED;
  run.copy = IsDlgButtonChecked(run.dialog, kCopyBox) == BST_CHECKED;
  DestroyReportPage(run.page);
  run.page = nullptr;
  run.error_bitmap.reset();
  if (run.details) SaveLayout(run);
  current = nullptr;
}

INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    InitDialog(*reinterpret_cast<DialogRun*>(lparam), dialog);
    return FALSE;  // the focus is set
  }
  if (current == nullptr || current->dialog != dialog) return FALSE;
  DialogRun& run = *current;
  if (INT_PTR answer = 0; StyledDialogMessage(dialog, message, wparam, lparam, &answer)) return answer;
  switch (message) {
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK:  // what a program answering message boxes sends
        case kOk: EndDialog(dialog, kOk); return TRUE;
        case kTerminate:
          run.terminate = true;
          EndDialog(dialog, kTerminate);
          return TRUE;
        case kDetails:
          if (run.details) SaveLayout(run);
          run.details = !run.details;
          InvalidateRect(dialog, nullptr, TRUE);
          ApplyMode(run);
          Layout(run);
          return TRUE;
        case kSendBox:
          EnableWindow(GetDlgItem(dialog, kScreenshotBox), IsDlgButtonChecked(dialog, kSendBox) == BST_CHECKED);
          return TRUE;
        default: return FALSE;
      }
    case WM_NOTIFY: {
      const auto& header = *reinterpret_cast<const NMHDR*>(lparam);
      if (header.idFrom == kPageControlId && header.code == TCN_SELCHANGE) {
        const int tab = static_cast<int>(SendMessageA(header.hwndFrom, TCM_GETCURSEL, 0, 0));
        run.page = CreateReportPage(run.page_context, header.hwndFrom, run.page, PageOfTabIndex(tab, run.pages));
        return TRUE;
      }
      return FALSE;
    }
    case WM_SIZE: Layout(run); return TRUE;
    case WM_MOVE:
      if (run.details && !IsZoomed(dialog) && !IsIconic(dialog) && run.layout) {
        RECT window{};
        GetWindowRect(dialog, &window);
        run.layout->left = window.left;
        run.layout->top = window.top;
      }
      return TRUE;
    case WM_PAINT: Paint(run); return TRUE;
    case WM_TIMER:
      if (wparam == kShownCheckTimer) {
        KillTimer(dialog, kShownCheckTimer);
        // A paint still queued behind the timer is not a dialog that cannot
        // paint: give it its chance first.
        if (!run.shown && IsWindowVisible(dialog)) UpdateWindow(dialog);
        if (!run.shown) EndDialog(dialog, kOk);
        return TRUE;
      }
      return FALSE;
    case WM_MOUSEMOVE: {
      const POINT point{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
      run.over_link = run.support_link && PtInRect(&run.link, point);
      return FALSE;
    }
    case WM_SETCURSOR:
      if (run.over_link && reinterpret_cast<HWND>(wparam) == dialog) {
        SetCursor(LoadCursor(nullptr, IDC_HAND));
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    case WM_LBUTTONUP: {
      const POINT point{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
      if (run.over_link && PtInRect(&run.link, point)) {
        StopStayInFront(dialog);
        ShellExecuteA(dialog, "open", run.options->SupportPage().c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
      }
      return FALSE;
    }
    case WM_DESTROY: Destroy(run); return FALSE;
    default: return FALSE;
  }
}

std::string ExceptionMessageText(const ExceptionDialogInput& input) {
  return input.content.message;
}

}  // namespace

ExceptionDialogResult ShowExceptionDialog(const ExceptionDialogInput& input) {
  const win::UniqueHandle<win::ModuleTraits> rich_edit(LoadLibraryA("RICHED32.DLL"));
  const HWND foreground = GetForegroundWindow();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  MessageBeep(MB_ICONHAND);

  ExceptionDialogResult result;
  for (;;) {
    DialogRun run;
    run.input = &input;
    run.options = input.options;
    DialogBoxParamA(DialogResourceModule(), "EL_Dialog", nullptr, &DialogProcedure, reinterpret_cast<LPARAM>(&run));
    current = nullptr;
    result.shown = run.shown;
    result.send = run.send;
    result.screenshot = run.screenshot;
    result.copy = run.copy;
    result.terminate = run.terminate;
    if (!run.shown) {
      result.send = input.send_choice;
      result.screenshot = input.screenshot_choice;
      result.copy = input.copy_choice;
      MessageBoxA(nullptr, ExceptionMessageText(input).c_str(), input.options->GetText(kTextDialogCaption).c_str(),
                  MB_ICONERROR | MB_TASKMODAL | MB_TOPMOST | MB_SERVICE_NOTIFICATION);
    }
    if (result.terminate && input.confirm_terminate && !input.confirm_terminate()) {
      result.terminate = false;
      continue;  // the handler said no: the user chooses again
    }
    break;
  }
  if (foreground != nullptr) SetForegroundWindow(foreground);
  return result;
}

}  // namespace vellum::exceptlog
