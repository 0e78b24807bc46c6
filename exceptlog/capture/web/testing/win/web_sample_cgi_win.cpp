// web_sample_cgi.exe: a CGI program with the subsystem inside. The query
// "fail" makes the request fail; any other answers with a small page.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "exceptlog/capture/manager/exception_manager_win.h"
#include "runtime/exception.h"

namespace {

using vellum::Exception;
VELLUM_EXCEPTION_CLASS(ERequestFailed, Exception);

__attribute__((noinline)) void Answer(const std::string& query) {
  if (query == "fail") throw ERequestFailed("The request <" + query + "> failed & \"stopped\".");
  // Through the C runtime, as a CGI program prints its page.
  std::printf("Content-Type: text/html\r\n\r\n<html>fine</html>");
  std::fflush(stdout);
}

}  // namespace

int main() {
  using namespace vellum;
  exceptlog::StartExceptionLog({GetModuleHandleA(nullptr), false, true});
  exceptlog::SetModuleInitializing(false);
  // The answer's line breaks are the protocol's, not to be translated.
  _setmode(_fileno(stdout), _O_BINARY);
  const char* query = std::getenv("QUERY_STRING");
  try {
    Answer(query != nullptr ? query : "");
  } catch (...) {
    exceptlog::ReportEscapedException(std::current_exception(), exceptlog::rkGeneral);
  }
  exceptlog::SetModuleFinalizing(true);
  exceptlog::StopExceptionLog();
  return 0;
}
