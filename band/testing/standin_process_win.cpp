#include "band/testing/standin_process_win.h"

#include <atomic>

#include "band/testing/command_line.h"
#include "runtime/gui/testing/message_wait_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum::band::testing {

namespace {

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string program(path);
  return program.substr(0, program.find_last_of('\\') + 1);
}

// Lines of the form "<digits> <text>"; anything else (which the stand-in never
// writes) is skipped rather than guessed at.
std::vector<StandinLogLine> SplitLog(const std::string& text) {
  std::vector<StandinLogLine> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string line = text.substr(start, end - start);
    const std::size_t blank = line.find(' ');
    if (blank == 0 || blank == std::string::npos || blank > 10) continue;
    if (line.find_first_not_of("0123456789") != blank) continue;
    lines.push_back({static_cast<DWORD>(std::stoull(line.substr(0, blank))), line.substr(blank + 1)});
  }
  return lines;
}

}  // namespace

bool PumpMessagesUntil(const std::function<bool()>& done, DWORD limit_ms) {
  return gui::testing::PumpUntil(done, limit_ms);
}

StandinProcess::StandinProcess(const std::vector<std::string>& arguments) {
  static std::atomic<int> run{0};
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  log_path_ = std::string(temp) + "vellum_standin_" + std::to_string(GetCurrentProcessId()) + "_" +
              std::to_string(++run) + ".log";
  DeleteFileA(log_path_.c_str());

  std::string command = "\"" + ProgramFolder() + "vellum_standin.exe\" --log \"" + log_path_ + "\"";
  for (const std::string& argument : arguments) command += " \"" + argument + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    win::RaiseLastOSError("CreateProcessA");
  }
  process_.reset(process.hProcess);
  win::UniqueKernelHandle thread(process.hThread);
  process_id_ = process.dwProcessId;
}

StandinProcess::~StandinProcess() {
  if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    if (hidden_ != nullptr) PostMessageA(hidden_, WM_CLOSE, 0, 0);
    // Pumped, in case the stand-in is in the middle of a message to our thread.
    PumpMessagesUntil([&] { return WaitForSingleObject(process_.get(), 0) != WAIT_TIMEOUT; });
    if (WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) TerminateProcess(process_.get(), 99);
  }
  DeleteFileA(log_path_.c_str());
}

HWND StandinProcess::WaitReady(DWORD limit_ms) {
  const std::string line = WaitFor("ready ", limit_ms);
  const auto handle = line.empty() ? std::nullopt : ParseHandleText(line.substr(6));
  if (handle) hidden_ = reinterpret_cast<HWND>(HandleFromBits(*handle));
  return hidden_;
}

std::string StandinProcess::WaitFor(const std::string& prefix, DWORD limit_ms) {
  std::string found;
  PumpMessagesUntil(
      [&] {
        for (std::string& text : Texts()) {
          if (text.rfind(prefix, 0) == 0) {
            found = std::move(text);
            return true;
          }
        }
        return false;
      },
      limit_ms);
  return found;
}

std::vector<StandinLogLine> StandinProcess::Lines() const {
  win::UniqueFileHandle file(CreateFileA(log_path_.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
  return SplitLog(text);
}

std::vector<std::string> StandinProcess::Texts() const {
  std::vector<std::string> texts;
  for (StandinLogLine& line : Lines()) texts.push_back(std::move(line.text));
  return texts;
}

DWORD StandinProcess::WaitForExit(DWORD limit_ms) {
  if (!process_ || WaitForSingleObject(process_.get(), limit_ms) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process_.get(), &code);
  return code;
}

}  // namespace vellum::band::testing
