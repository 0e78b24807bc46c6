// isapi_standin.exe EXTENSION QUERY...: plays the web server for a server
// extension DLL. Each query is one request with a control block of its own;
// what the extension sends back (status code, response header, written
// bytes) is printed as one line per event, line breaks written as \r and \n.
#include <windows.h>
// After windows.h, which it needs.
#include <httpext.h>

#include <cstdio>
#include <string>

namespace {

void Print(const std::string& line) {
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string Visible(const char* data, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\r') {
      text += "\\r";
    } else if (data[i] == '\n') {
      text += "\\n";
    } else {
      text += data[i];
    }
  }
  return text;
}

BOOL WINAPI StandInWriteClient(HCONN, LPVOID buffer, LPDWORD bytes, DWORD) {
  Print("write: " + Visible(static_cast<const char*>(buffer), *bytes));
  return TRUE;
}

BOOL WINAPI StandInSupportFunction(HCONN, DWORD request, LPVOID buffer, LPDWORD, LPDWORD) {
  if (request != HSE_REQ_SEND_RESPONSE_HEADER_EX) {
    Print("support: " + std::to_string(request));
    return FALSE;
  }
  const auto* info = static_cast<const HSE_SEND_HEADER_EX_INFO*>(buffer);
  Print("header: " + Visible(info->pszStatus, info->cchStatus) + " | " + Visible(info->pszHeader, info->cchHeader));
  return TRUE;
}

BOOL WINAPI StandInGetVariable(HCONN, LPSTR, LPVOID, LPDWORD) {
  SetLastError(ERROR_INVALID_INDEX);
  return FALSE;
}

BOOL WINAPI StandInReadClient(HCONN, LPVOID, LPDWORD size) {
  *size = 0;
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Print("usage: isapi_standin EXTENSION QUERY...");
    return 2;
  }
  HMODULE extension = LoadLibraryA(argv[1]);
  if (extension == nullptr) {
    Print("cannot load " + std::string(argv[1]));
    return 1;
  }
  auto version = reinterpret_cast<BOOL(WINAPI*)(HSE_VERSION_INFO*)>(
      reinterpret_cast<void*>(GetProcAddress(extension, "GetExtensionVersion")));
  auto procedure = reinterpret_cast<DWORD(WINAPI*)(EXTENSION_CONTROL_BLOCK*)>(
      reinterpret_cast<void*>(GetProcAddress(extension, "HttpExtensionProc")));
  HSE_VERSION_INFO info{};
  if (version == nullptr || procedure == nullptr || !version(&info)) {
    Print("not a server extension");
    return 1;
  }
  char method[] = "GET";
  char empty[] = "";
  char content_type[] = "text/plain";
  for (int i = 2; i < argc; ++i) {
    EXTENSION_CONTROL_BLOCK request{};
    request.cbSize = sizeof request;
    request.dwVersion = info.dwExtensionVersion;
    request.ConnID = reinterpret_cast<HCONN>(static_cast<std::uintptr_t>(i));
    request.lpszMethod = method;
    request.lpszQueryString = argv[i];
    request.lpszPathInfo = empty;
    request.lpszPathTranslated = empty;
    request.lpszContentType = content_type;
    request.GetServerVariable = &StandInGetVariable;
    request.WriteClient = &StandInWriteClient;
    request.ReadClient = &StandInReadClient;
    request.ServerSupportFunction = &StandInSupportFunction;
    Print(std::string("request: ") + argv[i]);
    const DWORD result = procedure(&request);
    Print("result: " + std::to_string(result) + " status: " + std::to_string(request.dwHttpStatusCode));
  }
  FreeLibrary(extension);
  Print("unloaded");
  return 0;
}
