#include "exceptlog/report/dialog/dialog_style_win.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

#include "runtime/win/gdi_win.h"
#include "runtime/win/unique_handle_win.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace vellum::exceptlog {

namespace {

constexpr UINT_PTR kAutoCloseTimer = 2;
constexpr UINT_PTR kStayInFrontTimer = 3;

struct DialogState {
  bool own_style = false;
  bool top_most = false;
  bool stay_in_front = false;
  int auto_close_seconds = 0;
  int idle_seconds = 0;
  std::string caption;
  std::set<HWND> snapshot;  // the process's top-level windows when the dialog started
  HBRUSH background = nullptr;
};

struct Fonts {
  int users = 0;
  HFONT caption = nullptr, message = nullptr, link = nullptr, report = nullptr, list = nullptr;
  std::string report_face, list_face;
  int points = 8;
};

std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}
std::map<HWND, DialogState>& Dialogs() {
  static std::map<HWND, DialogState> dialogs;
  return dialogs;
}
Fonts& SharedFonts() {
  static Fonts fonts;
  return fonts;
}

// Brushes live for the process: a dialog on another thread may still paint
// with one while the next dialog starts.
HBRUSH OwnBackgroundBrush() {
  static const HBRUSH brush = CreateSolidBrush(RGB(212, 208, 200));
  return brush;
}

HFONT CreateFaceFont(const char* face, int height, int weight, int charset) {
  LOGFONTA font{};
  font.lfHeight = height;
  font.lfWeight = weight;
  font.lfCharSet = static_cast<BYTE>(charset);
  font.lfQuality = DEFAULT_QUALITY;
  lstrcpynA(font.lfFaceName, face, LF_FACESIZE);
  return CreateFontIndirectA(&font);
}

void TakeFonts() {
  Fonts& fonts = SharedFonts();
  if (fonts.users++ > 0) return;
  const int charset = UserCharacterSet();
  const bool western = charset == ANSI_CHARSET;
  fonts.points = western ? 8 : 10;
  const char* caption_face = western ? "Verdana" : "MS Sans Serif";
  fonts.report_face = western ? "Lucida Console" : "Courier New";
  fonts.list_face = western ? "Tahoma" : "Courier New";
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  fonts.caption = CreateFaceFont(caption_face, metrics.lfCaptionFont.lfHeight, FW_BOLD, charset);
  fonts.message = CreateFontIndirectA(&metrics.lfMessageFont);
  LOGFONTA link = metrics.lfMessageFont;
  link.lfWeight = FW_BOLD;
  link.lfUnderline = TRUE;
  fonts.link = CreateFontIndirectA(&link);
  const win::WindowDC screen;
  const int height = -MulDiv(fonts.points, GetDeviceCaps(screen.get(), LOGPIXELSY), 72);
  fonts.report = CreateFaceFont(fonts.report_face.c_str(), height, FW_NORMAL, charset);
  fonts.list = CreateFaceFont(fonts.list_face.c_str(), height, FW_NORMAL, charset);
}

void GiveFontsBack() {
  Fonts& fonts = SharedFonts();
  if (fonts.users == 0 || --fonts.users > 0) return;
  for (HFONT* font : {&fonts.caption, &fonts.message, &fonts.link, &fonts.report, &fonts.list}) {
    DeleteObject(*font);
    *font = nullptr;
  }
}

BOOL CALLBACK CollectOwnWindow(HWND window, LPARAM list) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId()) reinterpret_cast<std::set<HWND>*>(list)->insert(window);
  return TRUE;
}

void CALLBACK AutoCloseTick(HWND dialog, UINT, UINT_PTR, DWORD) {
  bool close = false;
  {
    std::lock_guard guard(Lock());
    auto found = Dialogs().find(dialog);
    if (found == Dialogs().end()) return;
    DialogState& state = found->second;
    close = ++state.idle_seconds >= state.auto_close_seconds;
    if (close) state.idle_seconds = 0;
  }
  if (close) PostMessageA(dialog, WM_CLOSE, 0, 0);
}

void CALLBACK StayInFrontTick(HWND dialog, UINT, UINT_PTR, DWORD) {
  if ((GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0) return;
  const HWND foreground = GetForegroundWindow();
  if (foreground == nullptr || foreground == dialog) return;
  DWORD process = 0;
  GetWindowThreadProcessId(foreground, &process);
  if (process != GetCurrentProcessId()) return;
  {
    std::lock_guard guard(Lock());
    auto found = Dialogs().find(dialog);
    if (found == Dialogs().end() || !found->second.stay_in_front) return;
    // Windows opened after the dialog (a message box, the progress dialog)
    // may keep the foreground.
    if (found->second.snapshot.count(foreground) == 0) return;
  }
  SetForegroundWindow(dialog);
}

// Input reaches the controls, not the dialog: the thread's message hook sees
// it on its way to any window of a styled dialog.
thread_local HHOOK activity_hook = nullptr;
thread_local int activity_hook_users = 0;

bool IsUserInput(UINT message) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK:
    case WM_NCRBUTTONDBLCLK:
    case WM_NCMBUTTONDBLCLK:
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_MOUSEWHEEL: return true;
    default: return false;
  }
}

LRESULT CALLBACK ActivityHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HC_ACTION && wparam == PM_REMOVE) {
    const MSG& message = *reinterpret_cast<const MSG*>(lparam);
    if (message.hwnd != nullptr && IsUserInput(message.message)) {
      NoteDialogActivity(GetAncestor(message.hwnd, GA_ROOT));
    }
  }
  return CallNextHookEx(activity_hook, code, wparam, lparam);
}

COLORREF Scaled(COLORREF colour, double factor) {
  const auto part = [&](int value) { return std::min(255, static_cast<int>(value * factor)); };
  return RGB(part(GetRValue(colour)), part(GetGValue(colour)), part(GetBValue(colour)));
}

void Fill(HDC dc, const RECT& rect, COLORREF colour) {
  const win::UniqueHandle<win::GdiTraits<HBRUSH>> brush(CreateSolidBrush(colour));
  FillRect(dc, &rect, brush.get());
}

}  // namespace

int UserCharacterSet() {
  CHARSETINFO info{};
  // width: TCI_SRCCODEPAGE takes the code page itself in the pointer's place.
  if (!TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<std::uintptr_t>(GetACP())), &info, TCI_SRCCODEPAGE)) {
    return ANSI_CHARSET;
  }
  return static_cast<int>(info.ciCharset);
}

HINSTANCE DialogResourceModule() {
  return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

void BeginStyledDialog(HWND dialog, const StyledDialogSetup& setup) {
  DialogState state;
  state.own_style = setup.flags.Contains(dfOwnStyle);
  state.top_most = setup.flags.Contains(dfTopMost);
  state.auto_close_seconds = std::max(0, setup.auto_close_seconds);
  state.stay_in_front = true;
  state.background = state.own_style ? OwnBackgroundBrush() : GetSysColorBrush(COLOR_BTNFACE);
  EnumWindows(&CollectOwnWindow, reinterpret_cast<LPARAM>(&state.snapshot));
  {
    std::lock_guard guard(Lock());
    TakeFonts();
    Dialogs()[dialog] = std::move(state);
  }
  const DialogState& set = Dialogs()[dialog];

  RECT client{};
  GetClientRect(dialog, &client);
  if (!set.own_style) {
    SetWindowLongA(dialog, GWL_EXSTYLE, GetWindowLongA(dialog, GWL_EXSTYLE) & ~WS_EX_TOOLWINDOW);
  }
  if (setup.fit_height) {
    // The frame changed with the style: the template's client area keeps
    // its size under the new caption.
    RECT window = client;
    AdjustWindowRectEx(&window, GetWindowLongA(dialog, GWL_STYLE), FALSE, GetWindowLongA(dialog, GWL_EXSTYLE));
    SetWindowPos(dialog, nullptr, 0, 0, window.right - window.left, window.bottom - window.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  } else {
    SetWindowPos(dialog, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  }
  if (set.top_most) SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  if (set.auto_close_seconds > 0) {
    SetTimer(dialog, kAutoCloseTimer, 1000, &AutoCloseTick);
    if (activity_hook_users++ == 0) {
      activity_hook = SetWindowsHookExA(WH_GETMESSAGE, &ActivityHook, nullptr, GetCurrentThreadId());
    }
  }
  SetTimer(dialog, kStayInFrontTimer, 10, &StayInFrontTick);
}

void EndStyledDialog(HWND dialog) {
  KillTimer(dialog, kStayInFrontTimer);
  std::lock_guard guard(Lock());
  auto found = Dialogs().find(dialog);
  if (found == Dialogs().end()) return;
  if (found->second.auto_close_seconds > 0) {
    KillTimer(dialog, kAutoCloseTimer);
    if (--activity_hook_users == 0 && activity_hook != nullptr) {
      UnhookWindowsHookEx(activity_hook);
      activity_hook = nullptr;
    }
  }
  Dialogs().erase(found);
  GiveFontsBack();
}

bool HasOwnStyle(HWND dialog) {
  std::lock_guard guard(Lock());
  auto found = Dialogs().find(dialog);
  return found != Dialogs().end() && found->second.own_style;
}

HBRUSH DialogBackgroundBrush(HWND dialog) {
  std::lock_guard guard(Lock());
  auto found = Dialogs().find(dialog);
  return found != Dialogs().end() ? found->second.background : GetSysColorBrush(COLOR_BTNFACE);
}

void NoteDialogActivity(HWND dialog) {
  std::lock_guard guard(Lock());
  auto found = Dialogs().find(dialog);
  if (found != Dialogs().end()) found->second.idle_seconds = 0;
}

void StopStayInFront(HWND dialog) {
  {
    std::lock_guard guard(Lock());
    auto found = Dialogs().find(dialog);
    if (found != Dialogs().end()) found->second.stay_in_front = false;
  }
  SetWindowPos(dialog, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

int StyledCaptionHeight(HWND dialog) {
  return GetSystemMetrics(HasOwnStyle(dialog) ? SM_CYSMCAPTION : SM_CYCAPTION);
}

HFONT DialogFont(DialogFontKind kind) {
  const Fonts& fonts = SharedFonts();
  switch (kind) {
    case DialogFontKind::kCaption: return fonts.caption;
    case DialogFontKind::kMessage: return fonts.message;
    case DialogFontKind::kLink: return fonts.link;
    case DialogFontKind::kReport: return fonts.report;
    case DialogFontKind::kList: return fonts.list;
  }
  return nullptr;
}

std::string ReportFontFace() {
  return UserCharacterSet() == ANSI_CHARSET ? "Lucida Console" : "Courier New";
}
int DialogFontPointSize() {
  return UserCharacterSet() == ANSI_CHARSET ? 8 : 10;
}

void SetStyledCaption(HWND dialog, const std::string& caption) {
  {
    std::lock_guard guard(Lock());
    auto found = Dialogs().find(dialog);
    if (found != Dialogs().end()) found->second.caption = caption;
  }
  SetWindowTextA(dialog, caption.c_str());
  // Setting the text paints the system's caption over ours.
  PaintStyledFrame(dialog, GetActiveWindow() == dialog);
}

void PaintStyledFrame(HWND dialog, bool active) {
  std::string caption;
  {
    std::lock_guard guard(Lock());
    auto found = Dialogs().find(dialog);
    if (found == Dialogs().end() || !found->second.own_style) return;
    caption = found->second.caption;
  }
  RECT window{};
  GetWindowRect(dialog, &window);
  POINT origin{0, 0};
  ClientToScreen(dialog, &origin);
  RECT client{};
  GetClientRect(dialog, &client);
  OffsetRect(&client, origin.x - window.left, origin.y - window.top);
  OffsetRect(&window, -window.left, -window.top);

  const HDC dc = GetWindowDC(dialog);
  if (dc == nullptr) return;
  ExcludeClipRect(dc, client.left, client.top, client.right, client.bottom);
  Fill(dc, window, active ? RGB(128, 128, 128) : RGB(96, 96, 96));
  {
    const win::UniqueHandle<win::GdiTraits<HBRUSH>> frame(CreateSolidBrush(active ? RGB(64, 64, 64) : RGB(48, 48, 48)));
    FrameRect(dc, &window, frame.get());
  }
  const int border = client.left;
  RECT band{border, border, window.right - border, client.top};
  if (band.bottom - band.top < 4) band.top = std::max<LONG>(1, client.top - StyledCaptionHeight(dialog));
  const int steps = (band.bottom - band.top) / 5;
  COLORREF colour = active ? RGB(130, 155, 194) : RGB(151, 151, 151);
  for (int step = 0; step <= steps; ++step) {
    const RECT nested{band.left, band.top + 2 * step, band.right, band.bottom - 2 * step};
    if (nested.bottom <= nested.top) break;
    Fill(dc, nested, colour);
    colour = Scaled(colour, 0.96);
  }
  SetBkMode(dc, TRANSPARENT);
  {
    const win::SelectedObject font(dc, DialogFont(DialogFontKind::kCaption));
    RECT text = band;
    text.left += 4;
    if (active) {
      RECT shadow = text;
      OffsetRect(&shadow, 1, 0);
      SetTextColor(dc, RGB(34, 34, 34));
      DrawTextA(dc, caption.c_str(), -1, &shadow, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    SetTextColor(dc, active ? RGB(255, 255, 255) : RGB(224, 224, 224));
    DrawTextA(dc, caption.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
  ReleaseDC(dialog, dc);
}

bool StyledDialogMessage(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, INT_PTR* answer) {
  switch (message) {
    case WM_NCPAINT:
      if (!HasOwnStyle(dialog)) return false;
      PaintStyledFrame(dialog, GetActiveWindow() == dialog);
      *answer = TRUE;
      return true;
    case WM_NCACTIVATE:
      if (!HasOwnStyle(dialog)) return false;
      PaintStyledFrame(dialog, wparam != FALSE);
      SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
      *answer = TRUE;
      return true;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      if (!HasOwnStyle(dialog)) return false;
      const HDC dc = reinterpret_cast<HDC>(wparam);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(0, 0, 0));
      *answer = reinterpret_cast<INT_PTR>(DialogBackgroundBrush(dialog));
      return true;
    }
    case WM_COMMAND:
    case WM_NOTIFY: NoteDialogActivity(dialog); return false;
    default: (void)lparam; return false;
  }
}

void DrawTransparentBitmap(HDC dc, HBITMAP bitmap, int x, int y) {
  BITMAP info{};
  if (bitmap == nullptr || GetObjectA(bitmap, sizeof info, &info) == 0) return;
  const int width = info.bmWidth, height = info.bmHeight;
  const win::MemoryDC source(dc);
  const win::SelectedObject source_bitmap(source.get(), bitmap);
  const COLORREF transparent = GetPixel(source.get(), 0, 0);

  // The mask: 1 where the bitmap shows the transparent colour.
  const win::UniqueHandle<win::GdiTraits<HBITMAP>> mask(CreateBitmap(width, height, 1, 1, nullptr));
  const win::MemoryDC mask_dc(dc);
  const win::SelectedObject mask_selected(mask_dc.get(), mask.get());
  SetBkColor(source.get(), transparent);
  BitBlt(mask_dc.get(), 0, 0, width, height, source.get(), 0, 0, SRCCOPY);

  // A copy of the bitmap with the transparent pixels black, so that the
  // caller's bitmap stays as it was.
  const win::UniqueHandle<win::GdiTraits<HBITMAP>> copy(CreateCompatibleBitmap(dc, width, height));
  const win::MemoryDC copy_dc(dc);
  const win::SelectedObject copy_selected(copy_dc.get(), copy.get());
  BitBlt(copy_dc.get(), 0, 0, width, height, source.get(), 0, 0, SRCCOPY);
  SetBkColor(copy_dc.get(), RGB(0, 0, 0));
  SetTextColor(copy_dc.get(), RGB(255, 255, 255));
  BitBlt(copy_dc.get(), 0, 0, width, height, mask_dc.get(), 0, 0, SRCAND);

  const COLORREF old_background = SetBkColor(dc, RGB(255, 255, 255));
  const COLORREF old_text = SetTextColor(dc, RGB(0, 0, 0));
  BitBlt(dc, x, y, width, height, mask_dc.get(), 0, 0, SRCAND);
  BitBlt(dc, x, y, width, height, copy_dc.get(), 0, 0, SRCPAINT);
  SetBkColor(dc, old_background);
  SetTextColor(dc, old_text);
}

}  // namespace vellum::exceptlog
