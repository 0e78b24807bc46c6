#include "runtime/gui/dialogs_win.h"

#include <windows.h>

namespace vellum::gui {

const char* MessageDlgCaption(TMsgDlgType type) {
  switch (type) {
    case mtWarning: return "Warning";
    case mtError: return "Error";
    case mtInformation: return "Information";
    case mtConfirmation: return "Confirm";
    case mtCustom: break;
  }
  return "";
}

int MessageDlg(const std::string& text, TMsgDlgType type, unsigned buttons, int) {
  UINT style = MB_TASKMODAL;
  switch (type) {
    case mtWarning: style |= MB_ICONWARNING; break;
    case mtError: style |= MB_ICONERROR; break;
    case mtInformation: style |= MB_ICONINFORMATION; break;
    case mtConfirmation: style |= MB_ICONQUESTION; break;
    case mtCustom: break;
  }
  if ((buttons & mbYes) && (buttons & mbNo))
    style |= (buttons & mbCancel) ? MB_YESNOCANCEL : MB_YESNO;
  else if ((buttons & mbOK) && (buttons & mbCancel))
    style |= MB_OKCANCEL;
  else
    style |= MB_OK;
  return MessageBoxA(GetActiveWindow(), text.c_str(), MessageDlgCaption(type), style);
}

}  // namespace vellum::gui
