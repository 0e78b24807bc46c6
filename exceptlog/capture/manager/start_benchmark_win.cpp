// What the subsystem's start costs a library that carries it: from process
// attach to ready, as a load of start_probe.dll with the start against the
// same load without it (aim: at most 5 ms under Wine; the difference is
// printed). Each load is of a copy not loaded before in the process, as the
// shell loads the band, and every copy's start must leave its line tables
// undecoded: a report decodes them when it first needs them.
#define CATCH_CONFIG_MAIN
#include <windows.h>

#include <catch2/catch.hpp>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

// Copies of the probe in a folder of their own, made as the measurements
// need them and removed at the end.
class ProbeCopies {
 public:
  ProbeCopies() : original_(ProgramFolder() + "..\\bin\\start_probe.dll") {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    folder_ = std::string(temp) + "start_probe_" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder_.c_str(), nullptr);
  }
  ~ProbeCopies() {
    for (const std::string& copy : copies_) DeleteFileA(copy.c_str());
    RemoveDirectoryA(folder_.c_str());
  }
  ProbeCopies(const ProbeCopies&) = delete;
  ProbeCopies& operator=(const ProbeCopies&) = delete;

  const std::string& Copy(std::size_t index) {
    while (copies_.size() <= index) {
      copies_.push_back(folder_ + "start_probe_" + std::to_string(copies_.size()) + ".dll");
      REQUIRE(CopyFileA(original_.c_str(), copies_.back().c_str(), FALSE));
    }
    return copies_[index];
  }

 private:
  std::string original_;
  std::string folder_;
  std::vector<std::string> copies_;
};

using LineTablesWaiting = int(WINAPI*)();

// Loads `runs` fresh copies (timed), checks what their start left and
// unloads them (not timed).
void MeasureLoads(Catch::Benchmark::Chronometer& meter, ProbeCopies& copies, std::size_t& next, bool started) {
  const auto runs = static_cast<std::size_t>(meter.runs());
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < runs; ++i) paths.push_back(copies.Copy(next + i));
  std::vector<HMODULE> loaded(runs, nullptr);
  meter.measure([&](int run) { loaded[static_cast<std::size_t>(run)] = LoadLibraryA(paths[run].c_str()); });
  for (HMODULE module : loaded) {
    REQUIRE(module != nullptr);
    const auto waiting = reinterpret_cast<LineTablesWaiting>(
        reinterpret_cast<void*>(GetProcAddress(module, "StartProbeLineTablesWaiting")));
    REQUIRE(waiting != nullptr);
    CHECK(waiting() == (started ? 1 : -1));
    FreeLibrary(module);
  }
}

double MeanMilliseconds(ProbeCopies& copies, int loads) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  double total = 0;
  for (int i = 0; i < loads; ++i) {
    const std::string& path = copies.Copy(static_cast<std::size_t>(i));
    QueryPerformanceCounter(&start);
    HMODULE module = LoadLibraryA(path.c_str());
    QueryPerformanceCounter(&end);
    REQUIRE(module != nullptr);
    FreeLibrary(module);
    total += static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  }
  return total * 1000.0 / loads;
}

}  // namespace

TEST_CASE("a library's load with and without the subsystem's start") {
  ProbeCopies copies;
  std::size_t next = 0;
  SetEnvironmentVariableA("VELLUM_START_PROBE_OFF", "1");
  BENCHMARK_ADVANCED("load without the subsystem")(Catch::Benchmark::Chronometer meter) {
    MeasureLoads(meter, copies, next, false);
  };
  SetEnvironmentVariableA("VELLUM_START_PROBE_OFF", nullptr);
  BENCHMARK_ADVANCED("load with the subsystem's start")(Catch::Benchmark::Chronometer meter) {
    MeasureLoads(meter, copies, next, true);
  };

  // The difference from interleaved rounds, so that a slow spell of the
  // machine hits both.
  constexpr int kRounds = 5;
  constexpr int kLoads = 10;
  double without = 0;
  double with = 0;
  for (int round = 0; round < kRounds; ++round) {
    SetEnvironmentVariableA("VELLUM_START_PROBE_OFF", "1");
    without += MeanMilliseconds(copies, kLoads);
    SetEnvironmentVariableA("VELLUM_START_PROBE_OFF", nullptr);
    with += MeanMilliseconds(copies, kLoads);
  }
  std::printf(
      "\nlibrary load (%zu-bit): %.2f ms without the subsystem, %.2f ms with its start; start %.2f ms (aim: at most "
      "5)\n",
      sizeof(void*) * 8, without / kRounds, with / kRounds, (with - without) / kRounds);
}
