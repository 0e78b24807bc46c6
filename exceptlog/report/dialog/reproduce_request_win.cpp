#include <windows.h>

#include "exceptlog/report/dialog/dialog_style_win.h"
#include "exceptlog/report/dialog/exception_dialog_win.h"

namespace vellum::exceptlog {

namespace {

enum : int { kPrompt = 100, kText = 101, kOk = 2 };

struct RequestRun {
  const TRuzadaModuleOptions* options = nullptr;
  std::string text;
};

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

INT_PTR CALLBACK RequestProcedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* run = reinterpret_cast<RequestRun*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (message == WM_INITDIALOG) {
    run = reinterpret_cast<RequestRun*>(lparam);
    SetWindowLongPtrA(dialog, DWLP_USER, lparam);
    const TRuzadaModuleOptions& options = *run->options;
    BeginStyledDialog(
        dialog,
        {.flags = options.DialogFlags(), .fit_height = true, .auto_close_seconds = options.DialogAutoCloseSeconds()});
    SetStyledCaption(dialog, options.GetText(kTextReproduceCaption));
    SetDlgItemTextA(dialog, kPrompt, options.GetText(kTextReproduceRequest).c_str());
    SetDlgItemTextA(dialog, kOk, options.GetText(kTextReproduceOkButton).c_str());
    for (int id : {kPrompt, kOk}) {
      SendDlgItemMessageA(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont(DialogFontKind::kMessage)), TRUE);
    }
    SendDlgItemMessageA(dialog, kText, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont(DialogFontKind::kReport)), TRUE);
    SetForegroundWindow(dialog);
    SetFocus(GetDlgItem(dialog, kText));
    return FALSE;
  }
  if (run == nullptr) return FALSE;
  if (INT_PTR answer = 0; StyledDialogMessage(dialog, message, wparam, lparam, &answer)) return answer;
  switch (message) {
    case WM_COMMAND:
      // OK, Escape and closing the window all keep what was typed.
      if (LOWORD(wparam) == kOk || LOWORD(wparam) == IDOK) {
        const int length = GetWindowTextLengthA(GetDlgItem(dialog, kText));
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        GetDlgItemTextA(dialog, kText, text.data(), length + 1);
        text.resize(static_cast<std::size_t>(length));
        run->text = Trimmed(text);
        EndDialog(dialog, kOk);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY: EndStyledDialog(dialog); return FALSE;
    default: return FALSE;
  }
}

}  // namespace

std::string AskReproduceStepsText(const TRuzadaModuleOptions& options) {
  RequestRun run;
  run.options = &options;
  DialogBoxParamA(DialogResourceModule(), "EL_Request", nullptr, &RequestProcedure, reinterpret_cast<LPARAM>(&run));
  return run.text;
}

}  // namespace vellum::exceptlog
