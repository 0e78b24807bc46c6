// Web-server programs: which host runs this module, what the program last
// wrote to its visitor, and how an error page reaches the visitor. A web
// program cannot show a dialog; a failed request is answered with the error
// page instead (error_page.h).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

namespace vellum::exceptlog {

class TRuzadaModuleOptions;

enum TWebHost {
  whNone,
  whExtension,   // a server extension DLL exporting "HttpExtensionProc"
  whCgi,         // a console program started with "REQUEST_METHOD" set
  whProfileCgi,  // a program given a profile file with a request method and an output file
};

struct WebHostFacts {
  HMODULE module = nullptr;  // the module carrying the subsystem
  bool is_library = false;
  bool console = false;
};

// Which host runs the module, and for the profile-based form its output
// file. Reads the environment and the command line.
TWebHost DetectWebHost(const WebHostFacts& facts, std::string* output_file = nullptr);

struct WebPagesSettings {
  WebHostFacts facts;
  // Whether the page a CGI program writes is also kept in the temporary
  // folder (read at every write: the options may change).
  std::function<bool()> keep_page_file;
};

// Detects the host and installs what records the program's pages: the hook
// on this module's "HttpExtensionProc" in an extension DLL, the "WriteFile"
// import hooks in a CGI program. Hooking must have been started.
void StartWebPages(WebPagesSettings settings);
void StopWebPages();

TWebHost CurrentWebHost();
bool IsWebProgram();
// Neither a web program nor a console program.
bool IsGuiProgram(bool console);

// The last HTML page the program sent to its visitor (not our own pages).
std::string LastHtmlPage();
// A CGI program's page as kept in the temporary folder, read back as the
// last page; nothing changes when there is none.
void ReadLastHtmlPageFile();
std::string LastHtmlPageFileName();

// Receives what kept a page from its visitor: the host's section and what
// went wrong.
using WebWarning = std::function<void(std::string_view section, std::string_view message)>;

// Sends `page` with its header block through the host's channel; false (and
// a warning) when it did not reach the visitor.
bool WritePage(const std::string& page, const WebWarning& warn);

// Answers the failed request with the error page for `message`.
bool ShowWebErrorPage(const TRuzadaModuleOptions& options, std::string_view message, const WebWarning& warn);

}  // namespace vellum::exceptlog
