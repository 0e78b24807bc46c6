// The stand-in's record of what it received and did, one line per event, so
// that a test in another process can follow it while the program runs.
//
// Format: ASCII lines ended by "\r\n", each
//
//   <tick> <event> [<field> ...]
//
// <tick> is GetTickCount() in milliseconds; fields are separated by one blank.
// Window handles are written as signed decimal, the form the band uses in the
// registry. Events:
//
//   ready <hidden window>           the hidden window exists; written once, first
//   announce <window>               WM_HOTKEY 778 arrived; <window> is its lParam
//   answer <window>                 WM_HOTKEY 777 with the hidden window was posted to <window>
//   answer-failed <window> <why>    <window> is no window, or the post failed
//   size <width> <height> <raw>     WM_HOTKEY 777 arrived; width = low word, height =
//                                   high word of the lParam, <raw> its unsigned decimal value
//   hotkey <wParam> <lParam>        any other WM_HOTKEY (both unsigned decimal)
//   docked <panel window>           the Tessera is a child of <panel window>, sized to it
//   dock-failed <why>               "DockPanel" missing, malformed, or not a window;
//                                   <why> begins with the value's name
//   registry-failed <why>           "BarHandle" could not be read; <why> begins with
//                                   the value's name
//   bar-destroyed                   the Tessera's window went away (its panel was destroyed)
//   quit <reason>                   close | stop-event | timeout; the last line
//
// Each line goes to the file with one WriteFile, which the system does not
// buffer, and the file is shared for reading and writing: a reader never sees
// a line that is still in a buffer of ours, at most the tail of one being
// written, which it skips until its "\r\n" arrives.
#pragma once

#include <string>

#include "runtime/win/unique_handle_win.h"

namespace vellum::standin {

class EventLog {
 public:
  // An empty path writes to standard output.
  explicit EventLog(const std::string& path);

  void Write(const std::string& event);

 private:
  win::UniqueFileHandle file_;
  HANDLE output_ = INVALID_HANDLE_VALUE;  // file_ or standard output, not owned
};

}  // namespace vellum::standin
