#include "band/doctor/run_doctor_win.h"

#include <windows.h>

#include <exception>

#include "band/doctor/desktop_facts_win.h"
#include "band/doctor/doctor_command.h"
#include "band/doctor/doctor_facts_win.h"
#include "runtime/win/unique_handle_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum::band {

namespace {

constexpr int kHealthy = 0;
constexpr int kFound = 1;
constexpr int kFailed = 2;

void WriteTextFile(const std::string& path, const std::string& text) {
  const win::UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) win::RaiseLastOSError("CreateFile");
  DWORD written = 0;
  if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size()) {
    win::RaiseLastOSError("WriteFile");
  }
}

void Show(const std::string& text, UINT icon) {
  MessageBoxA(nullptr, text.c_str(), kDoctorTitle, MB_OK | icon | MB_SETFOREGROUND);
}

// A line ending with CR LF, as the findings' lines do.
std::string Line(const std::string& text) {
  return text.empty() ? text : text + "\r\n";
}

int Examine(const DoctorCommand& command, const DoctorModule& module) {
  const Bits windows = WindowsBits();
  const std::string done = Line(PerformFix(command.fix, module, windows));
  // Gathered after the fix, so the findings show what is left to do.
  const std::vector<Finding> findings = Diagnose(GatherDoctorFacts());
  if (!command.out_path.empty()) {
    WriteTextFile(command.out_path, done + FormatFindings(findings));
  } else {
    Show(
        done + (done.empty() ? "" : "\r\n") + DoctorMessage(findings, RundllFor(module.bits, windows), module.dll_path),
        findings.empty() ? MB_ICONINFORMATION : MB_ICONWARNING);
  }
  return findings.empty() ? kHealthy : kFound;
}

// The failure goes where the findings would have gone; when even that
// fails there is no one left to tell.
void Tell(const DoctorCommand& command, const std::string& message) {
  const std::string text = Line(message);
  try {
    if (command.out_path.empty()) {
      Show(text, MB_ICONERROR);
    } else {
      WriteTextFile(command.out_path, text);
    }
  } catch (...) {
  }
}

}  // namespace

int RunDoctor(const std::string& command_line, const DoctorModule& module) {
  DoctorCommand command;
  try {
    command = ParseDoctorCommand(command_line);
    if (!command.usage_error.empty()) {
      Tell(command, "The doctor did not run: " + command.usage_error);
      return kFailed;
    }
    return Examine(command, module);
  } catch (const std::exception& error) {
    Tell(command, std::string("The doctor failed: ") + error.what());
  } catch (...) {
    Tell(command, "The doctor failed.");
  }
  return kFailed;
}

}  // namespace vellum::band
