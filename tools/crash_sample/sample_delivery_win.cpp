#include "tools/crash_sample/sample_delivery_win.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "exceptlog/capture/component/deveru_vuz.h"
#include "exceptlog/capture/manager/exception_manager_win.h"
#include "runtime/gui/testing/message_box_watcher_win.h"
#include "tools/crash_sample/sample_faults_win.h"

namespace vellum::crash_sample {
namespace {

std::string Environment(const char* name) {
  char value[2048] = {};
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

// Multi-line texts (an SMTP transcript) on one output line.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  while (!text.empty()) {
    const std::size_t end = text.find(separator);
    if (end != 0) parts.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return parts;
}

DWORD main_thread = 0;

std::string ThreadName() {
  return GetCurrentThreadId() == main_thread ? "main" : "other";
}

BOOL CALLBACK AnswerBox(HWND window, LPARAM captions) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  char caption[256] = {};
  GetWindowTextA(window, caption, sizeof caption);
  for (const std::string& wanted : *reinterpret_cast<const std::vector<std::string>*>(captions)) {
    if (wanted != caption) continue;
    std::string text;
    for (const std::string& child : gui::testing::ChildTexts(window)) {
      if (child.empty() || child == "OK") continue;
      text += text.empty() ? child : " / " + child;
    }
    PrintLine("box: " + wanted + " | " + OneLine(text));
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    while (IsWindow(window)) Sleep(10);
  }
  return TRUE;
}

}  // namespace

void InstallDeliveryEvents() {
  main_thread = GetCurrentThreadId();
  const std::vector<std::string> settings = Split(Environment("CRASH_SAMPLE_EVENTS"), ',');
  if (settings.empty()) return;
  bool print = false;
  std::vector<int> vetoes;
  std::vector<int> retries;
  bool fields = false;
  std::vector<std::string> attachments;
  for (const std::string& setting : settings) {
    if (setting == "print") print = true;
    if (setting == "fields") fields = true;
    if (setting.rfind("veto=", 0) == 0) vetoes.push_back(std::atoi(setting.c_str() + 5));
    if (setting.rfind("retry=", 0) == 0) retries.push_back(std::atoi(setting.c_str() + 6));
    if (setting.rfind("attach=", 0) == 0) attachments.push_back(setting.substr(7));
  }
  // Owned by nobody but the program: it lives until the program ends.
  static auto* events = new exceptlog::TDeveruVuz;
  events->OnExceptionActionNotify = [print, vetoes](const exceptlog::TRuzadaExceptionRecord&,
                                                    exceptlog::TRuzadaActionType action, bool& execute) {
    if (print) PrintLine("event: " + std::to_string(action) + " " + ThreadName());
    for (int veto : vetoes) {
      if (veto == action) execute = false;
    }
  };
  events->OnExceptionErrorNotify = [print, retries](const exceptlog::TRuzadaExceptionRecord&,
                                                    exceptlog::TRuzadaActionType action, bool& retry) {
    static std::vector<int> retried;
    if (print) PrintLine("error-event: " + std::to_string(action));
    for (int wanted : retries) {
      if (wanted != action || std::find(retried.begin(), retried.end(), wanted) != retried.end()) continue;
      retried.push_back(wanted);
      retry = true;
    }
  };
  if (fields) {
    events->OnCustomFieldsRequest = [](const exceptlog::TRuzadaExceptionRecord&, StringList& names,
                                       StringList& values) {
      names.Add("build");
      values.Add("42");
      names.Add("user name");
      values.Add("Jane \"JD\" Doe; admin");
    };
  }
  if (!attachments.empty()) {
    events->OnAttachedFilesRequest = [attachments](const exceptlog::TRuzadaExceptionRecord&, StringList& files) {
      for (const std::string& file : attachments) files.Add(file);
    };
  }
}

void StartBoxAnswerer() {
  const std::vector<std::string> captions = Split(Environment("CRASH_SAMPLE_ANSWER_BOXES"), ';');
  if (captions.empty()) return;
  std::thread([captions] {
    while (true) {
      EnumWindows(&AnswerBox, reinterpret_cast<LPARAM>(&captions));
      Sleep(20);
    }
  }).detach();
}

// The first line of the clipboard's text, for a test of the copy made
// when delivery fails.
std::string ClipboardFirstLine() {
  std::string text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    if (const char* bytes = static_cast<const char*>(GlobalLock(data))) {
      text = bytes;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text.substr(0, text.find_first_of("\r\n"));
}

void PrintDeliveryResult(const exceptlog::PipelineReport& report) {
  if (!report.delivered.has_value()) return;
  if (!*report.delivered) PrintLine("clipboard: " + ClipboardFirstLine());
  PrintLine("delivery: " + std::string(*report.delivered ? "1" : "0") + " | " +
            exceptlog::ErrorCodeName(exceptlog::LastDeliveryErrorCode()) + " | " +
            OneLine(exceptlog::LastDeliveryErrorMessage()));
}

}  // namespace vellum::crash_sample
