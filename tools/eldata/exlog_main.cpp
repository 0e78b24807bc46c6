// exlog: shows the stored block of a module file and resolves code
// addresses with it, on Linux and on Windows alike.
#include <cstdio>
#include <string>
#include <vector>

#include "runtime/stream.h"
#include "tools/eldata/module_report.h"

using namespace vellum;
using namespace vellum::eldata;

namespace {

int Usage() {
  std::fputs(
      "usage: exlog info FILE [--json] [--password TEXT]\n"
      "       exlog resolve FILE [--password TEXT] ADDRESS...\n"
      "ADDRESS is hexadecimal: +1234 counts from the preferred base, 0x... or plain digits are absolute.\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string command = argv[1];
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
