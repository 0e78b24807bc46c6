// What the web pages' recording hooks and the page writer share: the host,
// the request in progress and the last page. Internal to this folder.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <httpext.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "exceptlog/capture/web/web_host_win.h"

namespace vellum::exceptlog {

struct WebPagesState {
  std::mutex lock;  // everything but the flag
  TWebHost host = whNone;
  std::string output_file;  // of the profile-based form
  // The extension DLL's request in progress and its server's WriteClient.
  EXTENSION_CONTROL_BLOCK* control_block = nullptr;
  void* previous_write_client = nullptr;
  std::string last_page;
  std::function<bool()> keep_page_file;
  // Set while the subsystem writes its own page: that is not the program's.
  std::atomic<bool> writing_own_page{false};
};

WebPagesState& TheWebPagesState();

// The CGI answer's channel, past the recording hook.
BOOL WriteToStandardOutput(const void* buffer, DWORD size);

}  // namespace vellum::exceptlog
