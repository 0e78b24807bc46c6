// Test support: runs vellum_standin.exe as a second process with a log file
// of its own and follows that log. Any test program in bin/ can use it (link
// vellum_standin_testing); closing the stand-in is the destructor's job, so a
// failed assertion leaves no stand-in behind in the session.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/win/unique_handle_win.h"

namespace vellum::band::testing {

constexpr DWORD kDefaultWaitMs = 5000;

// Pumps this thread's messages until `done` answers true (checked after
// every batch) or `limit_ms` have passed; answers whether `done` came true.
// Waiting on the stand-in must pump: it posts to the test's windows, and
// docking into a test's panel sends messages to the test's thread.
bool PumpMessagesUntil(const std::function<bool()>& done, DWORD limit_ms = kDefaultWaitMs);

struct StandinLogLine {
  DWORD tick = 0;
  std::string text;  // the event and its fields, without the tick
};

class StandinProcess {
 public:
  // Starts bin/vellum_standin.exe (beside the running program) with
  // "--log <temporary file>" and `arguments`. Raises EOSError.
  explicit StandinProcess(const std::vector<std::string>& arguments);
  ~StandinProcess();
  StandinProcess(const StandinProcess&) = delete;
  StandinProcess& operator=(const StandinProcess&) = delete;

  // Waits for the "ready" line; the hidden window it names, or null.
  HWND WaitReady(DWORD limit_ms = kDefaultWaitMs);
  // The first complete line whose text starts with `prefix`, pumping
  // messages meanwhile; empty when none came in time.
  std::string WaitFor(const std::string& prefix, DWORD limit_ms = kDefaultWaitMs);
  // Every complete line so far; a line still being written is left out.
  std::vector<StandinLogLine> Lines() const;
  std::vector<std::string> Texts() const;
  // The exit code, or STILL_ACTIVE when the process did not end in time.
  DWORD WaitForExit(DWORD limit_ms = kDefaultWaitMs);

  DWORD process_id() const { return process_id_; }
  HWND hidden_window() const { return hidden_; }

 private:
  std::string log_path_;
  win::UniqueKernelHandle process_;
  DWORD process_id_ = 0;
  HWND hidden_ = nullptr;
};

}  // namespace vellum::band::testing
