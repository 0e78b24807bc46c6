#include "exceptlog/delivery/send/clipboard_text_win.h"

#include <windows.h>

#include <cstring>

namespace vellum::exceptlog {
namespace {

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

HWND FirstVisibleWindow() {
  HWND found = nullptr;
  EnumWindows(&FindVisibleWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Owns the clipboard between OpenClipboard and CloseClipboard.
class OpenedClipboard {
 public:
  explicit OpenedClipboard(HWND owner) {
    // Another program may hold it for a moment.
    for (int attempt = 0; attempt < 10 && !open_; ++attempt) {
      open_ = OpenClipboard(owner) != FALSE;
      if (!open_) Sleep(20);
    }
  }
  ~OpenedClipboard() {
    if (open_) CloseClipboard();
  }
  OpenedClipboard(const OpenedClipboard&) = delete;
  OpenedClipboard& operator=(const OpenedClipboard&) = delete;
  bool IsOpen() const { return open_; }

 private:
  bool open_ = false;
};

}  // namespace

bool CopyTextToClipboard(const std::string& text) {
  const OpenedClipboard clipboard(FirstVisibleWindow());
  if (!clipboard.IsOpen()) return false;
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  if (memory == nullptr) return false;
  if (void* bytes = GlobalLock(memory)) {
    std::memcpy(bytes, text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
  }
  // The clipboard owns the memory once it has taken it.
  if (SetClipboardData(CF_TEXT, memory) == nullptr) {
    GlobalFree(memory);
    return false;
  }
  return true;
}

}  // namespace vellum::exceptlog
