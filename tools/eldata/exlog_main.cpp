// exlog: shows the stored block of a module file and resolves code
// addresses with it, and reads the log files of reports, on Linux and on
// Windows alike.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "exceptlog/report/logfile/log_file.h"
#include "runtime/stream.h"
#include "tools/eldata/log_commands.h"
#include "tools/eldata/module_report.h"
#include "tools/eldata/source_listener.h"

using namespace vellum;
using namespace vellum::eldata;

namespace {

int Usage() {
  std::fputs(
      "usage: exlog info FILE [--json] [--password TEXT]\n"
      "       exlog resolve FILE [--password TEXT] ADDRESS...\n"
      "       exlog list LOG.elf\n"
      "       exlog report LOG.elf [INDEX]\n"
      "       exlog xml LOG.elf [-o OUT.xml]\n"
      "       exlog listen [COUNT]   (Windows: prints the dialog's source requests)\n"
      "ADDRESS is hexadecimal: +1234 counts from the preferred base, 0x... or plain digits are absolute.\n"
      "INDEX counts from 0, the oldest report; without it the newest is shown.\n",
      stderr);
  return 2;
}

void WriteBytes(const std::string& bytes) {
#ifdef _WIN32
  // Stored reports and XML carry their own CR LF; text mode would double
  // the CR.
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

bool ParseIndex(const std::string& text, int& index) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0 || value > 1000000) return false;
  index = static_cast<int>(value);
  return true;
}

int LogCommand(const std::string& command, const std::string& file_name, const std::vector<std::string>& args) {
  if (!FileExists(file_name)) {
    std::fprintf(stderr, "exlog: %s does not exist\n", file_name.c_str());
    return 1;
  }
  const exceptlog::TLogFile log(file_name, true);
  if (command == "list") {
    if (!args.empty()) return Usage();
    std::fputs(LogListText(log).c_str(), stdout);
    return 0;
  }
  if (command == "report") {
    int index = -1;
    if (args.size() > 1 || (args.size() == 1 && !ParseIndex(args[0], index))) return Usage();
    if (log.ReportCount() == 0 || index >= log.ReportCount()) {
      std::fprintf(stderr, "exlog: %s holds %d reports\n", file_name.c_str(), log.ReportCount());
      return 1;
    }
    WriteBytes(LogReportText(log, index));
    return 0;
  }
  // xml
  if (args.empty()) {
    WriteBytes(log.DocumentXml());
    return 0;
  }
  if (args.size() != 2 || args[0] != "-o") return Usage();
  log.SaveXml(args[1]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "listen") {
    int count = 0;
    if (argc > 3 || (argc == 3 && !ParseIndex(argv[2], count))) return Usage();
    return ListenForSourceRequests(count);
  }
  if (argc < 3) return Usage();
  const std::string command = argv[1];
  if (command == "list" || command == "report" || command == "xml") {
    try {
      return LogCommand(command, argv[2], std::vector<std::string>(argv + 3, argv + argc));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "exlog: %s\n", e.what());
      return 1;
    }
  }
  std::vector<std::string> args;
  bool json = false;
  std::string password;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--password" && i + 1 < argc) {
      password = argv[++i];
    } else {
      args.push_back(arg);
    }
  }
  try {
    MemoryStream file;
    file.LoadFromFile(argv[2]);
    const ModuleReport report(file.Bytes(), password);
    if (command == "info") {
      if (!args.empty()) return Usage();
      if (!report.Block()) {
        std::fprintf(stderr, "exlog: %s carries no stored block\n", argv[2]);
        return 1;
      }
      const std::string text = json ? report.InfoJson() : report.InfoText();
      std::fwrite(text.data(), 1, text.size(), stdout);
      return 0;
    }
    if (command == "resolve") {
      if (args.empty()) return Usage();
      int status = 0;
      for (const std::string& arg : args) {
        const auto address = report.ParseAddress(arg);
        if (!address) {
          std::fprintf(stderr, "exlog: '%s' is not a hexadecimal address\n", arg.c_str());
          status = 2;
          continue;
        }
        std::printf("%s\n", report.Resolve(*address).c_str());
      }
      return status;
    }
    return Usage();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "exlog: %s\n", e.what());
    return 1;
  }
}
