// Playing the user from a thread of one's own, for tests and the demo:
// finding this process's windows by caption, reading a message box and
// answering it, holding Ctrl down for the calling thread. No test framework
// here, so that a demo program can use it too.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vellum::gui::testing {

inline BOOL CALLBACK CollectChildText(HWND child, LPARAM list) {
  char text[512] = {};
  GetWindowTextA(child, text, sizeof text);
  reinterpret_cast<std::vector<std::string>*>(list)->push_back(text);
  return TRUE;
}

// The texts of a window's children (a message box's static text, its buttons).
inline std::vector<std::string> ChildTexts(HWND window) {
  std::vector<std::string> texts;
  EnumChildWindows(window, &CollectChildText, reinterpret_cast<LPARAM>(&texts));
  return texts;
}

// A top-level window of this process with the given caption, or null:
// test programs of one session run side by side.
inline HWND FindOwnWindow(const char* caption) {
  for (HWND window = FindWindowExA(nullptr, nullptr, nullptr, caption); window != nullptr;
       window = FindWindowExA(nullptr, window, nullptr, caption)) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) return window;
  }
  return nullptr;
}

// Watches, from a thread of its own, for a message box of this process with
// the given caption; records its texts and answers it with OK.
class MessageBoxWatcher {
 public:
  explicit MessageBoxWatcher(std::string caption) : caption_(std::move(caption)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~MessageBoxWatcher() {
    stop_ = true;
    thread_.join();
  }
  MessageBoxWatcher(const MessageBoxWatcher&) = delete;
  MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

  int Count() const { return count_; }
  // The texts of the last box answered (its message and its buttons).
  std::vector<std::string> Texts() {
    std::vector<std::string> copy;
    {
      std::lock_guard guard(lock_);
      copy = texts_;
    }
    return copy;
  }

 private:
  void Run() {
    while (!stop_) {
      HWND box = FindOwnWindow(caption_.c_str());
      if (box != nullptr && IsWindowVisible(box)) {
        {
          std::lock_guard guard(lock_);
          texts_ = ChildTexts(box);
        }
        ++count_;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        while (!stop_ && IsWindow(box)) Sleep(10);
      }
      Sleep(20);
    }
  }

  std::string caption_;
  std::atomic<bool> stop_{false};
  std::atomic<int> count_{0};
  std::mutex lock_;
  std::vector<std::string> texts_;
  std::thread thread_;
};

// Sets or clears the Ctrl key in this thread's keyboard state, which is
// what GetKeyState reads.
inline void SetControlKeyDown(bool down) {
  BYTE state[256] = {};
  GetKeyboardState(state);
  state[VK_CONTROL] = down ? 0x80 : 0;
  state[VK_LCONTROL] = down ? 0x80 : 0;
  SetKeyboardState(state);
}

}  // namespace vellum::gui::testing
