// The look and manners every dialog of the subsystem shares: the fonts
// chosen by the user's code page, the own-style caption and frame, the
// background, the auto-close count and staying in front of the program's
// other windows.
//
// A dialog procedure uses it like this (the exception dialog, the reproduce
// steps request and the delivery's progress dialog all do):
//
//   case WM_INITDIALOG:
//     BeginStyledDialog(window, {.flags = options.DialogFlags(),
//                                .fit_height = true,   // all but the exception dialog
//                                .auto_close_seconds = options.DialogAutoCloseSeconds()});
//     SendDlgItemMessageA(window, 100, WM_SETFONT,
//                         reinterpret_cast<WPARAM>(DialogFont(DialogFontKind::kMessage)), TRUE);
//     SetStyledCaption(window, caption);
//     ...
//   case WM_DESTROY:
//     EndStyledDialog(window);
//     ...
//   default: ...
//   // First thing in the procedure, for every message:
//   if (INT_PTR answer = 0; StyledDialogMessage(window, message, wparam, lparam, &answer)) return answer;
//
// StyledDialogMessage paints the own caption and frame (WM_NCPAINT,
// WM_NCACTIVATE) with the text given to SetStyledCaption, answers the
// background colour messages and counts the user's activity; the timers of
// auto-close and stay-in-front run from BeginStyledDialog to EndStyledDialog
// without the procedure seeing them. Dialogs may run on different threads;
// one set of fonts is shared while any styled dialog lives.
#pragma once

#include <windows.h>

#include <string>

#include "exceptlog/capture/options/option_flags.h"

namespace vellum::exceptlog {

struct StyledDialogSetup {
  TDialogFlags flags;  // dfOwnStyle and dfTopMost are read
  // Sets the window height to the caption height plus the template's client
  // height (a dialog that does not size itself).
  bool fit_height = true;
  // 0: the dialog stays until closed; else WM_CLOSE after this many seconds
  // without user input.
  int auto_close_seconds = 0;
};

// On WM_INITDIALOG: takes the shared fonts, sets the frame for the style,
// makes the window topmost when asked, starts auto-close and stay-in-front.
void BeginStyledDialog(HWND dialog, const StyledDialogSetup& setup);
// On WM_DESTROY: stops the timers and gives the fonts back (deleted with the
// last styled dialog).
void EndStyledDialog(HWND dialog);

// Handles what every styled dialog answers the same way; true when `message`
// was answered and *answer is the dialog procedure's return value.
bool StyledDialogMessage(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, INT_PTR* answer);

// The caption text (also the window text) and a repaint of the frame.
void SetStyledCaption(HWND dialog, const std::string& caption);
// Paints the own-style caption and frame now (active or not). Does nothing
// for a dialog without dfOwnStyle.
void PaintStyledFrame(HWND dialog, bool active);

enum class DialogFontKind { kCaption, kMessage, kLink, kReport, kList };
// Valid between BeginStyledDialog and EndStyledDialog of any dialog.
HFONT DialogFont(DialogFontKind kind);
// The report face and its point size (8 or 10): the rich text pages name them.
std::string ReportFontFace();
int DialogFontPointSize();
// The character set of the user's default ANSI code page.
int UserCharacterSet();

// The brush dialogs and static controls are painted with.
HBRUSH DialogBackgroundBrush(HWND dialog);
bool HasOwnStyle(HWND dialog);

// Restarts the dialog's auto-close count (the pages call it for activity
// that reaches them and not the dialog).
void NoteDialogActivity(HWND dialog);
// Stops stay-in-front and topmost, so that a window the user asked for (the
// support page) can come to the front.
void StopStayInFront(HWND dialog);
// The caption height the dialog's frame uses.
int StyledCaptionHeight(HWND dialog);

// Draws `bitmap` at (x, y) with the colour of its top-left pixel left out;
// the bitmap is not changed.
void DrawTransparentBitmap(HDC dc, HBITMAP bitmap, int x, int y);

// The module whose resources hold the dialog templates: the one carrying
// this code.
HINSTANCE DialogResourceModule();

}  // namespace vellum::exceptlog
