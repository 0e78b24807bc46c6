// Reads an objdump -d -z listing on standard input and reports how many of
// its instructions the decoder measures the same. Exits 1 on any mismatch,
// when the listing holds no instructions at all (a missing or unreadable
// binary must never pass as agreement) and when the listing is of a binary of
// the other mode (its instructions would be compared as the wrong ones).
//   objdump -d -z kernel32.dll | hooking_decoder_oracle kernel32.dll
//   x86_64-w64-mingw32-objdump -d -z kernel32.dll | hooking_decoder_oracle --64 kernel32.dll
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "exceptlog/capture/hooking/testing/decoder_oracle.h"

namespace {

bool FormatFitsMode(const std::string& format, vellum::exceptlog::CodeMode mode) {
  if (format.empty() || format == "binary") return true;  // raw bytes: the mode is what the reference was told
  const bool is_64 = format.find("x86-64") != std::string::npos;
  return is_64 == (mode == vellum::exceptlog::CodeMode::k64);
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  auto mode = vellum::exceptlog::CodeMode::k32;
  int next = 1;
  if (argc > next && std::string_view(argv[next]) == "--64") {
    mode = vellum::exceptlog::CodeMode::k64;
    ++next;
  }
  const std::string name = argc > next ? argv[next] : "<stdin>";
  vellum::exceptlog::DisassemblyListing listing;
  std::string line;
  while (std::getline(std::cin, line)) listing.AddLine(line);
  if (!FormatFitsMode(listing.format(), mode)) {
    std::printf("%s: a %s binary cannot be checked as %s code\n", name.c_str(), listing.format().c_str(),
                mode == vellum::exceptlog::CodeMode::k64 ? "64-bit" : "32-bit");
    return 1;
  }

  const vellum::exceptlog::OracleReport report = vellum::exceptlog::CompareWithListing(listing, mode);
  for (const std::string& example : report.examples) std::printf("  mismatch %s\n", example.c_str());
  const double rate =
      report.compared == 0 ? 0.0 : 100.0 * static_cast<double>(report.agreed) / static_cast<double>(report.compared);
  std::printf(
      "%s: %zu instructions compared, %zu agree (%.4f%%; %zu RIP-relative), %zu mismatches, %zu WAIT merged, "
      "%zu REX merged, %zu undecodable for the reference skipped\n",
      name.c_str(), report.compared, report.agreed, rate, report.rip_relative, report.mismatches, report.wait_merged,
      report.rex_merged, report.skipped_bad);
  if (report.compared == 0) {
    std::printf("%s: no instructions in the listing\n", name.c_str());
    return 1;
  }
  return report.mismatches == 0 ? 0 : 1;
}
