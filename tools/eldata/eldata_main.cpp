// eldata: the post-link step of the product DLL. "stamp" reads the linked
// DLL's DWARF and writes the stored block it is linked again with; "verify"
// proves that the second link left every described code byte where it was;
// "options" gives a built module other options without a rebuild.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "exceptlog/capture/debugdata/debug_data.h"
#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/debuginfo/options_rewrite.h"
#include "exceptlog/debuginfo/stamp.h"
#include "runtime/stream.h"
#include "runtime/strings/date_time.h"
#include "tools/eldata/option_fields.h"

using namespace vellum;
using namespace vellum::exceptlog;

namespace {

std::vector<std::uint8_t> ReadFile(const std::string& name) {
  MemoryStream stream;
  stream.LoadFromFile(name);
  return stream.Bytes();
}

// "PE32+ x86-64"
std::string KindOf(const PeFile& module) {
  return std::string(PeFormatName(module.Format())) + " " + PeMachineName(module.Machine());
}

int Usage() {
  std::fputs(
      "usage: eldata stamp MODULE OUTPUT [--options FILE] [--password TEXT] [--compile-date SERIAL]\n"
      "       eldata verify FIRST_LINK SECOND_LINK\n"
      "       eldata options MODULE OPTIONS_FILE -o OUTPUT\n",
      stderr);
  return 2;
}

int Stamp(const std::vector<std::string>& args) {
  if (args.size() < 2) return Usage();
  StampSettings settings;
  settings.CompileDate = DateTimeToSerial(Now());
  std::string options_text;       // contents of the options file (may be empty)
  std::string options_file_name;  // for messages
  for (std::size_t i = 2; i + 1 < args.size() + 1; i += 2) {
    if (i + 1 >= args.size()) return Usage();
    if (args[i] == "--options") {
      const std::vector<std::uint8_t> text = ReadFile(args[i + 1]);
      options_text.assign(text.begin(), text.end());
      options_file_name = args[i + 1];
    } else if (args[i] == "--password") {
      settings.Password = args[i + 1];
    } else if (args[i] == "--compile-date") {
      settings.CompileDate = std::stod(args[i + 1]);
    } else {
      return Usage();
    }
  }
  settings.SetOptions = [&](TRuzadaModuleOptions& options) {
    eldata::ApplyOptionsFile(options, options_text, options_file_name);
  };
  const PeFile module(ReadFile(args[0]));
  const StampResult result = BuildStoredBlock(module, settings);
  MemoryStream(result.Block).SaveToFile(args[1]);
  std::printf(
      "eldata: %s (%s): %zu source files, %zu functions, %zu code ranges -> %zu unit records, %zu entries "
      "(%zu named), debug data %zu bytes, stored block %zu bytes\n",
      args[0].c_str(), KindOf(module).c_str(), result.Units, result.Procedures, result.Ranges,
      result.Statistics.UnitRecords, result.Statistics.Entries, result.Statistics.NamedEntries, result.DebugDataSize,
      result.Block.size());
  for (const std::string& procedure : result.MissingProcedures) {
    std::printf("eldata: %s has no code for %s; its numbered symbol is left out\n", args[0].c_str(), procedure.c_str());
  }
  return 0;
}

int Verify(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage();
  const PeFile first(ReadFile(args[0]));
  const PeFile second(ReadFile(args[1]));
  const std::string difference = CompareCode(first, second);
  if (!difference.empty()) {
    std::fprintf(stderr, "eldata: %s and %s differ: %s\n", args[0].c_str(), args[1].c_str(), difference.c_str());
    return 1;
  }
  std::printf("eldata: %s: code and data before the resources are identical in both links\n", KindOf(second).c_str());
  return 0;
}

int Options(const std::vector<std::string>& args) {
  if (args.size() != 4 || args[2] != "-o") return Usage();
  const std::vector<std::uint8_t> module = ReadFile(args[0]);
  const std::string kind = KindOf(PeFile(module));
  const std::uint16_t version = StoredBlockVersionOf(module);
  if (version != kOwnBlockVersion) {
    throw EOptionsRewriteError("the stored block is of version " + std::to_string(version) + "; this eldata writes " +
                               std::to_string(kOwnBlockVersion) + " only");
  }
  const std::vector<std::uint8_t> text = ReadFile(args[1]);
  TRuzadaModuleOptions options(std::string(), false);
  eldata::ApplyOptionsFile(options, std::string(text.begin(), text.end()), args[1]);
  MemoryStream stream;
  options.SaveToStream(stream);
  const OptionsRewrite result = ReplaceStoredOptions(module, stream.Bytes());
  MemoryStream(result.File).SaveToFile(args[3]);
  std::printf("eldata: %s (%s): options of %s written %s\n", args[3].c_str(), kind.c_str(), args[1].c_str(),
              result.InPlace ? "in place of the old ones" : "to a new section .eldata");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  try {
    if (command == "stamp") return Stamp(args);
    if (command == "verify") return Verify(args);
    if (command == "options") return Options(args);
    return Usage();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "eldata: %s\n", e.what());
    return 1;
  }
}
