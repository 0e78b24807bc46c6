// What the subsystem costs where it runs all the time, and how long a report
// takes, in a 32-bit or a 64-bit process:
// - a throw and catch of one of our exceptions with the subsystem running
//   and stopped. Every throw, handled or not, passes the raise hook, and in
//   a 64-bit process the system's exception dispatch with the subsystem's
//   vectored handler too, so it must stay cheap (aim: at most 1.10 times the
//   cost without the subsystem; the ratio is printed);
// - from a throw to a finished report of the raising thread with eight
//   other threads alive, whose stacks the report lists (aim: at most 20 ms
//   under Wine).
#define CATCH_CONFIG_MAIN
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <catch2/catch.hpp>
#include <cstdio>
#include <vector>

#include "exceptlog/capture/callstack/stack_entry.h"
#include "exceptlog/capture/manager/exception_manager_win.h"
#include "exceptlog/capture/manager/pipeline_steps.h"
#include "runtime/exception.h"

namespace {

using namespace vellum;
using namespace vellum::exceptlog;

__attribute__((noinline)) int ThrowAndCatch(int value) {
  try {
    throw EConvertError("not a number");
  } catch (const EConvertError&) {
    return value + 1;
  }
}

double SecondsFor(int iterations) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  int sink = 0;
  for (int i = 0; i < iterations; ++i) sink = ThrowAndCatch(sink);
  QueryPerformanceCounter(&end);
  REQUIRE(sink == iterations);
  return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The subsystem of this program as its start leaves it, until the scope ends.
class RunningSubsystem {
 public:
  RunningSubsystem() {
    StartExceptionLog({GetModuleHandleA(nullptr), false, true});
    SetModuleInitializing(false);
    REQUIRE(ExceptionLogActive());
  }
  ~RunningSubsystem() { StopExceptionLog(); }
  RunningSubsystem(const RunningSubsystem&) = delete;
  RunningSubsystem& operator=(const RunningSubsystem&) = delete;
};

DWORD WINAPI IdleUntilStopped(void* flag) {
  while (!static_cast<std::atomic<bool>*>(flag)->load()) Sleep(1);
  return 0;
}

}  // namespace

TEST_CASE("throw and catch with the subsystem running and stopped") {
  REQUIRE_FALSE(ExceptionLogActive());
  BENCHMARK("subsystem stopped") {
    return ThrowAndCatch(0);
  };
  {
    const RunningSubsystem running;
    BENCHMARK("subsystem running") {
      return ThrowAndCatch(0);
    };
  }
  // Short rounds in turn, so that a slow spell of the machine hits both,
  // and the median of the rounds' ratios, so that one spell does not decide
  // it. The subsystem's start does work of its own for a moment (a thread
  // or two starting): its first throws are not timed.
  constexpr int kRounds = 21;
  constexpr int kIterations = 5000;
  std::vector<double> ratios;
  double off = 0;
  double on = 0;
  for (int round = 0; round < kRounds; ++round) {
    const double stopped = SecondsFor(kIterations);
    const RunningSubsystem running;
    SecondsFor(kIterations / 10);
    const double started = SecondsFor(kIterations);
    off += stopped;
    on += started;
    ratios.push_back(started / stopped);
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf(
      "\nthrow and catch (%zu-bit): %.2f us without the subsystem, %.2f us with it, ratio %.3f (median of %d rounds; "
      "aim: at most 1.10)\n",
      sizeof(void*) * 8, off / (kRounds * kIterations) * 1e6, on / (kRounds * kIterations) * 1e6,
      ratios[ratios.size() / 2], kRounds);
}

TEST_CASE("throw to finished report with eight other threads") {
  const RunningSubsystem running;
  // Threads made through the hooked CreateThread are listed with their stacks.
  std::atomic<bool> stop{false};
  std::vector<HANDLE> threads;
  std::vector<DWORD> ids(8);
  for (DWORD& id : ids) threads.push_back(CreateThread(nullptr, 0, &IdleUntilStopped, &stop, 0, &id));

  // Each report must hold every other thread's frames, or it did less than
  // the figure claims.
  std::atomic<int> reports{0};
  std::atomic<int> fewest_threads{static_cast<int>(ids.size())};
  std::atomic<int> entries{0};
  PipelineSteps steps;
  steps.reported = [&](const PipelineReport& report, PipelineContext&) {
    const std::vector<TRuzadaDebugInfo>& stack = report.record.StackEntries->Entries();
    int listed = 0;
    for (DWORD id : ids) {
      listed +=
          std::any_of(stack.begin(), stack.end(), [&](const TRuzadaDebugInfo& entry) { return entry.ThreadId == id; });
    }
    if (listed < fewest_threads.load()) fewest_threads.store(listed);
    entries.store(static_cast<int>(stack.size()));
    reports.fetch_add(1);
  };
  SetPipelineSteps(steps);

  BENCHMARK("report") {
    try {
      throw EConvertError("reported");
    } catch (...) {
      return ReportEscapedException(std::current_exception(), rkGeneral);
    }
  };
  stop = true;
  WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
  for (HANDLE thread : threads) CloseHandle(thread);
  SetPipelineSteps({});
  std::printf(
      "\nreports (%zu-bit): %d, each with the stacks of at least %d of the %zu other threads, %d call stack entries\n",
      sizeof(void*) * 8, reports.load(), fewest_threads.load(), ids.size(), entries.load());
  REQUIRE(reports.load() > 0);
  CHECK(fewest_threads.load() == static_cast<int>(ids.size()));
}
