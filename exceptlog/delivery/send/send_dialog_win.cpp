#include "exceptlog/delivery/send/send_dialog_win.h"

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/delivery/send/send_rules.h"
#include "exceptlog/report/dialog/dialog_style_win.h"
#include "runtime/threading/thread_win.h"

namespace vellum::exceptlog {
namespace {

constexpr UINT kReadyMessage = WM_APP + 1;
// Long enough for a slow first paint; a dialog that never comes up must not
// hold a delivery back for good.
constexpr int kReadyPollLimit = 200;  // of 50 ms

class TSendDialogThread;

// The state the delivering thread and the dialog thread share; cleared
// before every dialog.
struct SendDialogState {
  std::mutex lock;  // the thread object and texts; the rest is atomic
  std::atomic<HWND> window{nullptr};
  std::atomic<int> current{0};
  std::atomic<int> total{0};
  std::atomic<bool> ready{false};
  // From the show to the close: network failures get a message box.
  std::atomic<bool> shows_errors{false};
  TCustomizedTexts texts = DefaultCustomizedTexts();
  std::unique_ptr<TSendDialogThread> thread;
};

SendDialogState& State() {
  static SendDialogState state;
  return state;
}

// What the dialog thread is given: the texts and the dialog flags of the
// report's options (own style, stay in front).
struct SendDialogSetup {
  TCustomizedTexts texts;
  TDialogFlags flags;
};

INT_PTR CALLBACK SendDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  SendDialogState& state = State();
  if (INT_PTR answer = 0; StyledDialogMessage(dialog, message, wparam, lparam, &answer)) return answer;
  switch (message) {
    case WM_INITDIALOG: {
      const auto* setup = reinterpret_cast<const SendDialogSetup*>(lparam);
      // The progress dialog never closes by itself: the delivery ends it.
      BeginStyledDialog(dialog, {.flags = setup->flags.With(dfTopMost), .fit_height = true, .auto_close_seconds = 0});
      SendDlgItemMessageA(dialog, kSendStatusControl, WM_SETFONT,
                          reinterpret_cast<WPARAM>(DialogFont(DialogFontKind::kMessage)), TRUE);
      SetStyledCaption(dialog, setup->texts[kTextSendCaption]);
      SendDlgItemMessageA(dialog, kSendProgressControl, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
      state.window.store(dialog);
      // A dialog whose controls take no focus may never see WM_SETFOCUS
      // when another process is in front: its first message turn says it
      // is up as well.
      PostMessageA(dialog, kReadyMessage, 0, 0);
      return TRUE;
    }
    case WM_SETFOCUS:
    case kReadyMessage: state.ready.store(true); return message == kReadyMessage;
    case kCloseSendDialogMessage: EndDialog(dialog, 0); return TRUE;
    case WM_CLOSE:
      // The delivery decides when the dialog ends, not the user.
      return TRUE;
    case WM_DESTROY: EndStyledDialog(dialog); return FALSE;
    default: return FALSE;
  }
}

class TSendDialogThread final : public Thread {
 public:
  explicit TSendDialogThread(SendDialogSetup setup) : setup_(std::move(setup)) { SetPriority(tpHighest); }
  ~TSendDialogThread() override { TerminateAndWait(); }

 protected:
  void Execute() override {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    DialogBoxParamA(DialogResourceModule(), "EL_Server", nullptr, &SendDialogProc, reinterpret_cast<LPARAM>(&setup_));
    SendDialogState& state = State();
    state.window.store(nullptr);
    // A dialog that could not be made still ends the wait for it.
    state.ready.store(true);
  }

 private:
  SendDialogSetup setup_;
};

bool InteractiveWindowStation() {
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  HWINSTA station = GetProcessWindowStation();
  if (station == nullptr || !GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed)) {
    return true;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void SendToDialog(UINT message, WPARAM wparam, LPARAM lparam) {
  if (HWND window = State().window.load()) SendMessageA(window, message, wparam, lparam);
}

}  // namespace

bool SendDialogWanted(const TRuzadaModuleOptions& options, bool console) {
  return options.SendFlags().Contains(sfProgressDialog) && (options.MailMethod() != 0 || options.UploadMethod() != 0) &&
         !console && InteractiveWindowStation();
}

void ShowSendDialog(bool show, const TCustomizedTexts& texts, TDialogFlags flags) {
  CloseSendDialog();
  SendDialogState& state = State();
  state.current.store(0);
  state.total.store(0);
  state.ready.store(false);
  {
    const std::lock_guard guard(state.lock);
    state.texts = texts;
  }
  if (!show) return;
  try {
    auto thread = std::make_unique<TSendDialogThread>(SendDialogSetup{texts, flags});
    thread->Start();
    {
      const std::lock_guard guard(state.lock);
      state.thread = std::move(thread);
    }
    for (int poll = 0; poll < kReadyPollLimit && !state.ready.load(); ++poll) Sleep(50);
  } catch (...) {
    // No thread, no dialog: the delivery goes on without one.
  }
  state.shows_errors.store(state.window.load() != nullptr);
}

bool SendDialogShowsErrors() {
  return State().shows_errors.load();
}

bool SendDialogShown() {
  return State().window.load() != nullptr;
}

std::uintptr_t SendDialogWindow() {
  return reinterpret_cast<std::uintptr_t>(State().window.load());
}

void SetSendStatus(const std::string& text) {
  SendDialogState& state = State();
  if (state.window.load() == nullptr) return;
  std::string word;
  {
    const std::lock_guard guard(state.lock);
    word = state.texts[kTextSendMessage];
  }
  SetSendStatusPlain(SendStatusText(word, state.current.load(), state.total.load(), text));
}

void SetSendStatusPlain(const std::string& text) {
  if (HWND window = State().window.load()) SetDlgItemTextA(window, kSendStatusControl, text.c_str());
}

void SetSendCount(int current, int total) {
  State().current.store(current);
  State().total.store(total);
}

void SetSendProgress(int percent) {
  if (HWND window = State().window.load()) {
    SendDlgItemMessageA(window, kSendProgressControl, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
  }
}

void CloseSendDialog() {
  SendDialogState& state = State();
  SendToDialog(kCloseSendDialogMessage, 0, 0);
  std::unique_ptr<TSendDialogThread> thread;
  {
    const std::lock_guard guard(state.lock);
    thread = std::move(state.thread);
  }
  thread.reset();  // waits for the dialog's thread to end
  state.window.store(nullptr);
  state.shows_errors.store(false);
}

void UploadProgress(int stage, std::uint32_t total, std::uint32_t done) {
  // Connecting, connected, sending.
  std::string texts[3];
  {
    const std::lock_guard guard(State().lock);
    for (int i = 0; i < 3; ++i) texts[i] = State().texts[kTextSendConnecting + i];
  }
  switch (stage) {
    case 0:
      SetSendProgress(0);
      SetSendStatusPlain(texts[0]);
      break;
    case 1: SetSendStatusPlain(texts[1]); break;
    case 2:
      SetSendStatusPlain(texts[2]);
      SetSendProgress(total == 0 ? 100 : static_cast<int>(static_cast<std::uint64_t>(done) * 100 / total));
      break;
    default: break;
  }
}

}  // namespace vellum::exceptlog
