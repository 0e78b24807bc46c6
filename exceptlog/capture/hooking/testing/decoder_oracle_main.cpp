// Reads an objdump -d -z listing on standard input and reports how many of
// its instructions the decoder measures the same. Exits 1 on any mismatch and
// when the listing holds no instructions at all (a missing or unreadable
// binary must never pass as agreement).
//   objdump -d -z kernel32.dll | hooking_decoder_oracle kernel32.dll
#include <cstdio>
#include <iostream>
#include <string>

#include "exceptlog/capture/hooking/testing/decoder_oracle.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::string name = argc > 1 ? argv[1] : "<stdin>";
  vellum::exceptlog::DisassemblyListing listing;
  std::string line;
  while (std::getline(std::cin, line)) listing.AddLine(line);

  const vellum::exceptlog::OracleReport report = vellum::exceptlog::CompareWithListing(listing);
  for (const std::string& example : report.examples) std::printf("  mismatch %s\n", example.c_str());
  const double rate =
      report.compared == 0 ? 0.0 : 100.0 * static_cast<double>(report.agreed) / static_cast<double>(report.compared);
  std::printf(
      "%s: %zu instructions compared, %zu agree (%.4f%%), %zu mismatches, %zu WAIT merged, "
      "%zu undecodable for the reference skipped\n",
      name.c_str(), report.compared, report.agreed, rate, report.mismatches, report.wait_merged, report.skipped_bad);
  if (report.compared == 0) {
    std::printf("%s: no instructions in the listing\n", name.c_str());
    return 1;
  }
  return report.mismatches == 0 ? 0 : 1;
}
