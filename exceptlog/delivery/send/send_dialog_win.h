// The small progress dialog "EL_Server" that an SMTP delivery or a web upload
// shows: a status line and a progress bar, run by a thread of its own so
// that it stays responsive while the delivering thread blocks on sockets.
// The delivering thread talks to it only through SendMessage.
#pragma once

#include <cstdint>
#include <string>

#include "exceptlog/capture/options/customized_texts.h"
#include "exceptlog/capture/options/option_flags.h"

namespace vellum::exceptlog {

class TRuzadaModuleOptions;

// What decides whether the dialog shows: sfProgressDialog, a mail or upload
// method configured, an interactive program that is not a console program.
bool SendDialogWanted(const TRuzadaModuleOptions& options, bool console);

// Starts the dialog thread and waits until the dialog is up. Does nothing
// (but clear the state) when `show` is false. The texts give the caption
// (75) and the status words (76, 78..80); the flags the dialogs' shared
// look (dfOwnStyle).
void ShowSendDialog(bool show, const TCustomizedTexts& texts, TDialogFlags flags = {});
bool SendDialogShown();
// While a shown dialog is up (from the show to the close), delivery failures
// of the network get a message box of their own.
bool SendDialogShowsErrors();
// The window of the shown dialog, or 0.
std::uintptr_t SendDialogWindow();

// "Message <current>/<total>: <text>" into the status line.
void SetSendStatus(const std::string& text);
void SetSendStatusPlain(const std::string& text);
void SetSendCount(int current, int total);
void SetSendProgress(int percent);
// Ends the dialog and waits for its thread; nothing when none is shown.
void CloseSendDialog();

// The web upload's progress callback: stage 0 connecting, 1 connected,
// 2 sending (done of total bytes).
void UploadProgress(int stage, std::uint32_t total, std::uint32_t done);

// The message that ends the dialog.
inline constexpr unsigned kCloseSendDialogMessage = 0x08D2;
inline constexpr int kSendStatusControl = 100;
inline constexpr int kSendProgressControl = 101;

}  // namespace vellum::exceptlog
