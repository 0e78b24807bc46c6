#include "exceptlog/report/system/system_facts_win.h"

#include <iphlpapi.h>

#include <memory>

#include "exceptlog/capture/callstack/win/module_record_win.h"
#include "exceptlog/capture/options/computer_name.h"
#include "exceptlog/report/builder/report_values.h"
#include "runtime/registry/registry_key_win.h"
#include "runtime/strings/format.h"
#include "runtime/win/entry_point_win.h"
#include "runtime/win/file_time_value_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

namespace {

template <typename Function>
Function KernelFunction(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

// The locale enumeration's callback has no context parameter; the report
// runs one at a time, under the pipeline lock.
LANGID wanted_language = 0;
std::string found_language;

bool LocaleMatches(const std::string& locale, LCID& lcid) {
  if (locale.size() < 8) return false;
  // Characters 5 to 8 of "00000409" are the language identifier.
  std::int32_t identifier = 0;
  if (!TryStrToInt("$" + locale.substr(4, 4), identifier)) return false;
  lcid = static_cast<LCID>(identifier);
  return LANGIDFROMLCID(lcid) == wanted_language;
}

BOOL CALLBACK WideLocale(LPWSTR locale) {
  std::string narrow;
  for (const wchar_t* c = locale; *c != 0; ++c) narrow += static_cast<char>(*c);
  LCID lcid = 0;
  if (!LocaleMatches(narrow, lcid)) return TRUE;
  wchar_t abbreviation[16] = {};
  if (GetLocaleInfoW(lcid, LOCALE_SABBREVLANGNAME, abbreviation, 16) <= 1) return TRUE;
  wchar_t name[128] = {};
  if (GetLocaleInfoW(lcid, LOCALE_SENGLANGUAGE, name, 128) <= 1) return TRUE;
  found_language.clear();
  for (const wchar_t* c = name; *c != 0; ++c) found_language += *c < 128 ? static_cast<char>(*c) : '?';
  return FALSE;
}

BOOL CALLBACK NarrowLocale(LPSTR locale) {
  LCID lcid = 0;
  if (!LocaleMatches(locale, lcid)) return TRUE;
  char abbreviation[16] = {};
  if (GetLocaleInfoA(lcid, LOCALE_SABBREVLANGNAME, abbreviation, sizeof abbreviation) <= 1) return TRUE;
  char name[128] = {};
  if (GetLocaleInfoA(lcid, LOCALE_SENGLANGUAGE, name, sizeof name) <= 1) return TRUE;
  found_language = name;
  return FALSE;
}

std::string AddressText(const IP_ADDR_STRING* address, bool mask) {
  if (address == nullptr) return {};
  return mask ? address->IpMask.String : address->IpAddress.String;
}

}  // namespace

int LocalZoneOffsetMinutes() {
  FILETIME utc;
  GetSystemTimeAsFileTime(&utc);
  FILETIME local;
  if (!FileTimeToLocalFileTime(&utc, &local)) return 0;
  const auto difference = static_cast<std::int64_t>(win::FileTimeValue(local) - win::FileTimeValue(utc));
  return static_cast<int>(difference / 600'000'000);
}

MainModuleFacts MainModuleVersion() {
  const std::string file_name = LoadedModuleFileName(GetModuleHandleA(nullptr));
  FileVersionData data = ReadFileVersionData(file_name);
  MainModuleFacts facts;
  facts.name_description = data.Description.empty() ? FileNameOf(file_name) : data.Description;
  facts.version = data.Version;
  return facts;
}

std::vector<std::string> CommandLineParameters(const std::string& command_line) {
  std::vector<std::string> parameters;
  std::size_t i = 0;
  bool first = true;
  while (true) {
    while (i < command_line.size() && static_cast<unsigned char>(command_line[i]) <= ' ') ++i;
    if (i >= command_line.size()) break;
    std::string parameter;
    bool quoted = false;
    while (i < command_line.size() && (quoted || static_cast<unsigned char>(command_line[i]) > ' ')) {
      if (command_line[i] == '"') {
        quoted = !quoted;
      } else {
        parameter += command_line[i];
      }
      ++i;
    }
    if (!first) parameters.push_back(parameter);
    first = false;
  }
  return parameters;
}

std::string ComputerName() {
  return LocalComputerName();
}

std::string UserName() {
  char name[257] = {};
  DWORD size = sizeof name;
  if (!GetUserNameA(name, &size)) return {};
  return name;
}

MemoryFacts PhysicalMemory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return {};
  return {status.ullTotalPhys, status.ullAvailPhys};
}

std::string DriveRootOf(HMODULE module) {
  const std::string file_name = LoadedModuleFileName(module);
  if (file_name.size() >= 2 && file_name[1] == ':') return file_name.substr(0, 2) + "\\";
  if (file_name.rfind("\\\\", 0) == 0) {
    // \\server\share\ is the root of a network drive.
    const std::size_t share = file_name.find('\\', 2);
    const std::size_t end = share == std::string::npos ? share : file_name.find('\\', share + 1);
    if (end != std::string::npos) return file_name.substr(0, end + 1);
  }
  return {};
}

DiskFacts DriveSpace(const std::string& root) {
  using DiskSpace = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  const auto disk_space = KernelFunction<DiskSpace>("GetDiskFreeSpaceExA");
  if (disk_space == nullptr || root.empty()) return {};
  ULARGE_INTEGER free_to_caller{};
  ULARGE_INTEGER total{};
  ULARGE_INTEGER total_free{};
  if (!disk_space(root.c_str(), &free_to_caller, &total, &total_free)) return {};
  return {total.QuadPart, free_to_caller.QuadPart};
}

DiskFacts ModuleDrive(HMODULE module) {
  return DriveSpace(DriveRootOf(module));
}

std::uint64_t UpTimeMilliseconds() {
  // The 64-bit count does not wrap after 49.7 days; older systems lack it.
  using TickCount64 = ULONGLONG(WINAPI*)();
  if (const auto ticks = KernelFunction<TickCount64>("GetTickCount64")) return ticks();
  return GetTickCount();
}

std::string ProcessorName() {
  std::string name, vendor, identifier;
  try {
    const RegistryKey key =
        RegistryKey::OpenIfExists(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", KEY_READ);
    if (key.IsOpen()) {
      name = key.ReadString("ProcessorNameString").value_or("");
      vendor = key.ReadString("VendorIdentifier").value_or("");
      identifier = key.ReadString("Identifier").value_or("");
    }
  } catch (const std::exception&) {
    // Unreadable: the fall-back text below.
  }
  return ProcessorText(name, vendor, identifier);
}

std::string DisplayMode() {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return {};
  const std::string text = Format("%d x %d, %d bit", GetDeviceCaps(screen, HORZRES), GetDeviceCaps(screen, VERTRES),
                                  GetDeviceCaps(screen, BITSPIXEL));
  ReleaseDC(nullptr, screen);
  return text;
}

SystemVersion OperatingSystemVersion() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info)) return {};
#pragma GCC diagnostic pop
  return {info.dwPlatformId == VER_PLATFORM_WIN32_NT, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber,
          info.szCSDVersion};
}

std::string SystemLanguageName() {
  wanted_language = GetSystemDefaultLangID();
  found_language.clear();
  if (OperatingSystemVersion().nt_platform) {
    EnumSystemLocalesW(&WideLocale, LCID_INSTALLED);
  } else {
    EnumSystemLocalesA(&NarrowLocale, LCID_INSTALLED);
  }
  return found_language;
}

HMODULE IpHelperLibrary() {
  static HMODULE const library = LoadLibraryA("iphlpapi.dll");
  return library;
}

std::vector<NetworkAdapter> NetworkAdapters() {
  std::vector<NetworkAdapter> adapters;
  HMODULE library = IpHelperLibrary();
  if (library == nullptr) return adapters;
  const auto adapters_info = win::LookUpEntryPoint<decltype(GetAdaptersInfo)>(library, "GetAdaptersInfo");
  const auto per_adapter_info = win::LookUpEntryPoint<decltype(GetPerAdapterInfo)>(library, "GetPerAdapterInfo");
  if (adapters_info == nullptr || per_adapter_info == nullptr) return adapters;

  ULONG size = 0;
  std::unique_ptr<std::uint8_t[]> buffer;
  DWORD result = adapters_info(nullptr, &size);
  // The list may grow between the two calls.
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer = std::make_unique<std::uint8_t[]>(size);
    result = adapters_info(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.get()), &size);
  }
  if (result != ERROR_SUCCESS || buffer == nullptr) return adapters;

  for (auto* info = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.get()); info != nullptr; info = info->Next) {
    NetworkAdapter adapter;
    adapter.dhcp = info->DhcpEnabled != 0;
    adapter.ip_address = AddressText(&info->IpAddressList, false);
    adapter.mask = AddressText(&info->IpAddressList, true);
    adapter.gateway = AddressText(&info->GatewayList, false);
    ULONG per_size = 0;
    if (per_adapter_info(info->Index, nullptr, &per_size) == ERROR_BUFFER_OVERFLOW && per_size != 0) {
      auto per_buffer = std::make_unique<std::uint8_t[]>(per_size);
      auto* per = reinterpret_cast<PIP_PER_ADAPTER_INFO>(per_buffer.get());
      if (per_adapter_info(info->Index, per, &per_size) == ERROR_SUCCESS) {
        for (const IP_ADDR_STRING* dns = &per->DnsServerList; dns != nullptr && adapter.dns.size() < 2;
             dns = dns->Next) {
          adapter.dns.emplace_back(dns->IpAddress.String);
        }
      }
    }
    adapters.push_back(std::move(adapter));
  }
  return adapters;
}

WindowFacts ForegroundWindow() {
  WindowFacts facts;
  HWND window = GetForegroundWindow();
  if (window == nullptr) return facts;
  char class_name[256] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  facts.class_name = class_name;
  char text[256] = {};
  DWORD_PTR length = 0;
  // A hung window must not hold the report up.
  if (SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 500,
                          &length)) {
    facts.text = text;
  }
  return facts;
}

}  // namespace vellum::exceptlog
