// Archive throughput for report-sized inputs, against GNU tar compressing
// with gzip -9 on the same files. Both sides are timed by the wall clock:
// the tools' work happens in child processes.
//   tgz_writer_benchmark [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "exceptlog/delivery/archive/testing/tgz_test_support.h"
#include "exceptlog/delivery/archive/tgz_writer.h"

namespace {

using vellum::exceptlog::testing::ScratchFolder;

struct Tally {
  double bytes = 0;
  double seconds = 0;
  std::uintmax_t archive_size = 0;
};
std::map<std::string, Tally> tallies;  // "ours/1" or "tool/20", by megabytes

ScratchFolder& Folder() {
  static ScratchFolder folder;
  return folder;
}

// Lines like those of an exception report: call-stack rows, module rows
// and a register dump, with varying addresses so that the text does not
// collapse into one repeated line.
std::string SourceFile(int megabytes) {
  const std::string name = "ExceptLog" + std::to_string(megabytes) + ".txt";
  const std::string path = Folder() / name;
  if (std::filesystem::exists(path)) return name;
  std::string text;
  const std::size_t size = static_cast<std::size_t>(megabytes) << 20;
  std::uint32_t seed = 12345;
  char line[256];
  while (text.size() < size) {
    seed = seed * 1103515245 + 12345;
    const unsigned address = 0x00401000 + (seed >> 12);
    switch (seed % 4) {
      case 0:
        std::snprintf(line, sizeof line, "|*Exception Thread: ID=%u; Priority=0; Class=TSendThread               |\r\n",
                      seed % 9000 + 1000);
        break;
      case 1:
        std::snprintf(line, sizeof line,
                      "|%08X|VellumDeskBand.dll|bandform.cpp|TVellumDeskBandForm|pnlDockResize|%u[%u]|\r\n", address,
                      seed % 900 + 10, seed % 7);
        break;
      case 2:
        std::snprintf(line, sizeof line, "|%08X|%-20s|7.0.2.%-4u|Vellum desk band module            |\r\n", address,
                      "shell32.dll", seed % 3000);
        break;
      default:
        std::snprintf(line, sizeof line, "EAX: %08X  EBX: %08X  ECX: %08X  EDX: %08X\r\n", seed, address,
                      seed ^ address, seed >> 3);
        break;
    }
    text += line;
  }
  text.resize(size);
  vellum::exceptlog::testing::WriteFileBytes(path, text);
  return name;
}

void Record(const std::string& key, double bytes, double seconds, const std::string& archive) {
  Tally& tally = tallies[key];
  tally.bytes += bytes;
  tally.seconds += seconds;
  tally.archive_size = std::filesystem::file_size(archive);
}

void BM_TGZWriter(benchmark::State& state) {
  const int megabytes = static_cast<int>(state.range(0));
  const std::string source = Folder() / SourceFile(megabytes);
  const std::string archive = Folder() / "ours.tgz";
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    vellum::exceptlog::TTGZWriter writer(archive);
    writer.AddFile(source);
    writer.Finish();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    Record("ours/" + std::to_string(megabytes), static_cast<double>(megabytes << 20), elapsed.count(), archive);
  }
  state.SetBytesProcessed(state.iterations() * (std::int64_t{megabytes} << 20));
}

void BM_TarGzip9(benchmark::State& state) {
  const int megabytes = static_cast<int>(state.range(0));
  const std::string source = SourceFile(megabytes);
  const std::string archive = Folder() / "tool.tgz";
  const std::string command =
      "tar -I 'gzip -9' -cf '" + archive + "' -C '" + Folder().path().string() + "' '" + source + "'";
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("tar with gzip -9 failed");
      break;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    Record("tool/" + std::to_string(megabytes), static_cast<double>(megabytes << 20), elapsed.count(), archive);
  }
  state.SetBytesProcessed(state.iterations() * (std::int64_t{megabytes} << 20));
}

BENCHMARK(BM_TGZWriter)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TarGzip9)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();

void PrintComparison() {
  for (const int megabytes : {1, 20}) {
    const auto ours = tallies.find("ours/" + std::to_string(megabytes));
    const auto tool = tallies.find("tool/" + std::to_string(megabytes));
    if (ours == tallies.end() || tool == tallies.end()) continue;
    const double our_rate = ours->second.bytes / ours->second.seconds / 1e6;
    const double tool_rate = tool->second.bytes / tool->second.seconds / 1e6;
    std::printf(
        "%2d MB report text: TTGZWriter %.1f MB/s, tar with gzip -9 %.1f MB/s, speed ratio %.2f; "
        "archive %ju bytes vs %ju bytes, size ratio %.3f\n",
        megabytes, our_rate, tool_rate, our_rate / tool_rate, ours->second.archive_size, tool->second.archive_size,
        static_cast<double>(ours->second.archive_size) / static_cast<double>(tool->second.archive_size));
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintComparison();
  return 0;
}
