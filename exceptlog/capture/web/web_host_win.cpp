// Host detection and what records the program's own pages.
#include "exceptlog/capture/web/web_host_win.h"

#include <httpext.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "exceptlog/capture/hooking/win/import_hooks_win.h"
#include "exceptlog/capture/hooking/win/procedure_hooks_win.h"
#include "exceptlog/capture/web/command_line.h"
#include "exceptlog/capture/web/web_pages_state_win.h"
#include "runtime/win/entry_point_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

namespace {

constexpr LONGLONG kLargestProfile = 102400;

std::string ProfileValue(const std::string& profile, const char* section, const char* name) {
  char value[MAX_PATH * 2] = {};
  GetPrivateProfileStringA(section, name, "", value, sizeof value, profile.c_str());
  return value;
}

std::string FullPath(const std::string& path) {
  char full[MAX_PATH] = {};
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return length > 0 && length < sizeof full ? std::string(full) : path;
}

// The profile-based form: the first parameter names a small profile whose
// "CGI" section has a request method, and the answer goes to an output file
// that the server made.
bool DetectProfileCgi(std::string* output_file) {
  const std::vector<std::string> parameters = SplitCommandLine(GetCommandLineA());
  if (parameters.size() < 2 || parameters[1].empty()) return false;
  if (parameters[1].find_first_of("*?") != std::string::npos) return false;
  const std::string profile = FullPath(parameters[1]);
  {
    const win::UniqueFileHandle file(CreateFileA(profile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kLargestProfile) return false;
  }
  if (ProfileValue(profile, "CGI", "Request Method").empty()) return false;
  std::string output = parameters.size() > 3 ? parameters[3] : std::string();
  if (output.empty()) output = ProfileValue(profile, "System", "Output File");
  if (output.empty() || GetFileAttributesA(output.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  if (output_file != nullptr) *output_file = output;
  return true;
}

// --- what the program writes -------------------------------------------------

using ExtensionProcedure = DWORD(WINAPI*)(EXTENSION_CONTROL_BLOCK*);
using WriteClientProcedure = BOOL(WINAPI*)(HCONN, LPVOID, LPDWORD, DWORD);
using WriteFileProcedure = decltype(&WriteFile);

ExtensionProcedure extension_procedure = nullptr;  // the hooked export's trampoline
WriteFileProcedure real_write_file = nullptr;

void KeepPage(const char* buffer, std::size_t size) {
  WebPagesState& state = TheWebPagesState();
  const std::lock_guard guard(state.lock);
  state.last_page.assign(buffer, strnlen(buffer, size));
}

BOOL WINAPI RecordingWriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD reserved) {
  WebPagesState& state = TheWebPagesState();
  WriteClientProcedure previous = nullptr;
  {
    const std::lock_guard guard(state.lock);
    previous = reinterpret_cast<WriteClientProcedure>(state.previous_write_client);
  }
  if (!state.writing_own_page.load() && buffer != nullptr && bytes != nullptr) {
    try {
      KeepPage(static_cast<const char*>(buffer), *bytes);
    } catch (...) {
      // Out of memory: the page is not kept, the visitor still gets it.
    }
  }
  return previous != nullptr ? previous(connection, buffer, bytes, reserved) : FALSE;
}

DWORD WINAPI RecordingExtensionProc(EXTENSION_CONTROL_BLOCK* control_block) {
  WebPagesState& state = TheWebPagesState();
  if (control_block != nullptr) {
    const std::lock_guard guard(state.lock);
    state.control_block = control_block;
    state.previous_write_client = reinterpret_cast<void*>(control_block->WriteClient);
    control_block->WriteClient = &RecordingWriteClient;
  }
  const DWORD status = extension_procedure(control_block);
  // A finished request's block belongs to the server again: a later error
  // must not write through it. A pending one still answers its visitor.
  if (control_block != nullptr && status != HSE_STATUS_PENDING) {
    const std::lock_guard guard(state.lock);
    control_block->WriteClient = reinterpret_cast<WriteClientProcedure>(state.previous_write_client);
    if (state.control_block == control_block) state.control_block = nullptr;
  }
  return status;
}

void KeepPageFile(const char* buffer, DWORD size) {
  const win::UniqueFileHandle file(CreateFileA(LastHtmlPageFileName().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;  // a page that cannot be kept is no reason to fail the program's write
  DWORD written = 0;
  real_write_file(file.get(), buffer, size, &written, nullptr);
}

BOOL WINAPI RecordingWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  WebPagesState& state = TheWebPagesState();
  if (!state.writing_own_page.load() && buffer != nullptr && file == GetStdHandle(STD_OUTPUT_HANDLE)) {
    try {
      KeepPage(static_cast<const char*>(buffer), size);
      if (state.keep_page_file && state.keep_page_file()) KeepPageFile(static_cast<const char*>(buffer), size);
    } catch (...) {
    }
  }
  return real_write_file(file, buffer, size, written, overlapped);
}

template <typename Procedure>
void* AsPointer(Procedure procedure) {
  return reinterpret_cast<void*>(procedure);
}

void HookStandardOutput(HMODULE module) {
  real_write_file =
      win::LookUpEntryPoint<std::remove_pointer_t<WriteFileProcedure>>(GetModuleHandleA("kernel32.dll"), "WriteFile");
  if (real_write_file == nullptr) return;
  // The program's own writes, and those of the C runtime it prints through.
  for (HMODULE writer : {module, GetModuleHandleA("msvcrt.dll")}) {
    if (writer == nullptr) continue;
    HookImport(writer, "kernel32.dll", AsPointer(real_write_file), false, true, "WriteFile",
               AsPointer(&RecordingWriteFile));
  }
}

void HookExtensionProc(HMODULE module) {
  const void* exported = reinterpret_cast<const void*>(GetProcAddress(module, "HttpExtensionProc"));
  if (exported == nullptr) return;
  extension_procedure = reinterpret_cast<ExtensionProcedure>(
      HookProcedure(exported, reinterpret_cast<const void*>(&RecordingExtensionProc), "HttpExtensionProc"));
}

}  // namespace

WebPagesState& TheWebPagesState() {
  static WebPagesState state;
  return state;
}

TWebHost DetectWebHost(const WebHostFacts& facts, std::string* output_file) {
  if (facts.is_library && GetProcAddress(facts.module, "HttpExtensionProc") != nullptr) return whExtension;
  if (facts.console) {
    char method[16];
    SetLastError(ERROR_SUCCESS);
    if (GetEnvironmentVariableA("REQUEST_METHOD", method, sizeof method) > 0 ||
        GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
      return whCgi;
    }
    return whNone;
  }
  return DetectProfileCgi(output_file) ? whProfileCgi : whNone;
}

void StartWebPages(WebPagesSettings settings) {
  WebPagesState& state = TheWebPagesState();
  std::string output_file;
  const TWebHost host = DetectWebHost(settings.facts, &output_file);
  {
    const std::lock_guard guard(state.lock);
    state.host = host;
    state.output_file = output_file;
    state.control_block = nullptr;
    state.last_page.clear();
    state.keep_page_file = std::move(settings.keep_page_file);
  }
  if (host == whExtension) HookExtensionProc(settings.facts.module);
  if (host == whCgi) HookStandardOutput(settings.facts.module);
}

void StopWebPages() {
  // The hooks themselves are undone with every other hook when hooking
  // stops; what is left is to forget the request.
  WebPagesState& state = TheWebPagesState();
  const std::lock_guard guard(state.lock);
  state.host = whNone;
  state.control_block = nullptr;
  state.keep_page_file = nullptr;
}

TWebHost CurrentWebHost() {
  WebPagesState& state = TheWebPagesState();
  const std::lock_guard guard(state.lock);
  return state.host;
}

bool IsWebProgram() {
  return CurrentWebHost() != whNone;
}

bool IsGuiProgram(bool console) {
  return !console && !IsWebProgram();
}

std::string LastHtmlPage() {
  WebPagesState& state = TheWebPagesState();
  const std::lock_guard guard(state.lock);
  return state.last_page;
}

std::string LastHtmlPageFileName() {
  char folder[MAX_PATH] = {};
  const DWORD length = GetTempPathA(sizeof folder, folder);
  std::string path = length > 0 && length < sizeof folder ? std::string(folder) : std::string(".\\");
  if (path.back() != '\\') path += '\\';
  return path + "LastHTMLPage.html";
}

void ReadLastHtmlPageFile() {
  const win::UniqueFileHandle file(CreateFileA(LastHtmlPageFileName().c_str(), GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  LARGE_INTEGER size{};
  // Only a page: a file grown past any page's size is not read whole.
  constexpr LONGLONG kLargestPage = 16 * 1024 * 1024;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kLargestPage) return;
  std::string page(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!ReadFile(file.get(), page.data(), static_cast<DWORD>(page.size()), &read, nullptr)) return;
  page.resize(read);
  WebPagesState& state = TheWebPagesState();
  const std::lock_guard guard(state.lock);
  state.last_page = std::move(page);
}

BOOL WriteToStandardOutput(const void* buffer, DWORD size) {
  DWORD written = 0;
  const WriteFileProcedure write = real_write_file != nullptr ? real_write_file : &WriteFile;
  return write(GetStdHandle(STD_OUTPUT_HANDLE), buffer, size, &written, nullptr) && written == size;
}

}  // namespace vellum::exceptlog
