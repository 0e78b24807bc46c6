// Failures of the subsystem itself. The line for the debugger always goes
// out (nobody sees it without one); the ".log" file beside the program and
// the question whether to send it are for a developer with a debugger
// attached, never for the user of a program in the field.
#include <windows.h>

#include <array>
#include <cstdio>

#include "exceptlog/capture/hooking/internal_error.h"
#include "exceptlog/capture/manager/internal_error_report.h"
#include "exceptlog/capture/manager/manager_state_win.h"
#include "runtime/exception.h"

namespace vellum::exceptlog {

namespace {

std::string OperatingSystemDescription() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExA(&version);
#pragma GCC diagnostic pop
  char text[256];
  std::snprintf(text, sizeof text, "Windows %lu.%lu (Build %lu) %s", version.dwMajorVersion, version.dwMinorVersion,
                version.dwBuildNumber, version.szCSDVersion);
  return text;
}

std::string LocalDate() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  TIME_ZONE_INFORMATION zone{};
  const DWORD kind = GetTimeZoneInformation(&zone);
  LONG bias = zone.Bias;
  if (kind == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  if (kind == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  return FormatInternalErrorDate({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond},
                                 -static_cast<int>(bias));
}

std::string DumpAt(std::uint64_t address) {
  std::array<std::uint8_t, 32> bytes{};
  const void* at = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address));
  if (address == 0 || !MemoryIsReadable(at, bytes.size())) return {};
  std::memcpy(bytes.data(), at, bytes.size());
  return FormatDump(bytes);
}

void WriteInternalErrorFile(const std::string& file_name, const std::string& text) {
  HANDLE file =
      CreateFileA(file_name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

void FullReporter(std::string_view section, std::uint64_t address, std::string_view message) {
  OutputDebugStringA(exceptlog::FormatInternalError(section, address, message).c_str());
  if (!IsDebuggerPresent()) return;
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, sizeof program);
  InternalErrorFacts facts;
  facts.date = LocalDate();
  facts.os = OperatingSystemDescription();
  facts.compiler = "GCC " __VERSION__;
  facts.dump = DumpAt(address);
  facts.section = std::string(section);
  facts.address = address;
  facts.message = std::string(message);
  const std::string file_name = InternalErrorFileName(program);
  WriteInternalErrorFile(file_name, FormatInternalErrorFile(facts));
  const std::string question = FormatInternalErrorQuestion(message);
  if (MessageBoxA(nullptr, question.c_str(), kInternalErrorCaption, 0x242014) == IDYES) {
    // Sending needs the mail client of the delivery layer; the file stays
    // for the developer to send.
    MessageBoxA(nullptr, FormatManualSendingNotice(file_name).c_str(), "Information", 0x242030);
  }
}

}  // namespace

void InstallInternalErrorReporter() {
  exceptlog::SetInternalErrorReporter(&FullReporter);
}

void ReportPipelineFailure(const std::exception_ptr& failure, std::uint64_t address) {
  std::string message;
  bool abort = false;
  try {
    if (failure) std::rethrow_exception(failure);
  } catch (const Exception& error) {
    abort = error.InheritsFrom("EAbort");
    message = error.Message();
  } catch (const std::exception& error) {
    message = error.what();
  } catch (...) {
  }
  if (abort) return;
  if (message.empty()) message = kGeneralInternalError;
  const ManagerState* state = State();
  const std::string section = std::to_string(state != nullptr ? state->progress.load() : 0);
  exceptlog::ReportInternalError(section, address, message);
}

}  // namespace vellum::exceptlog
