// What the subsystem costs where it runs all the time, and how long a report
// takes:
// - a throw and catch of one of our exceptions, raise hook on and off; the
//   hook runs on every throw, handled or not, so it must stay cheap (aim: at
//   most 1.10 times the unhooked cost; the ratio is printed);
// - from a throw to a finished report of the raising thread with eight
//   other threads alive, which the report lists.
#define CATCH_CONFIG_MAIN
#include <windows.h>

#include <atomic>
#include <catch2/catch.hpp>
#include <cstdio>
#include <thread>
#include <vector>

#include "exceptlog/capture/manager/exception_manager_win.h"
#include "exceptlog/capture/manager/pipeline_steps.h"
#include "exceptlog/capture/manager/raise_state_win.h"
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

DWORD WINAPI IdleUntilStopped(void* flag) {
  while (!static_cast<std::atomic<bool>*>(flag)->load()) Sleep(1);
  return 0;
}

}  // namespace

TEST_CASE("throw and catch with the raise hook") {
  BENCHMARK("raise hook off") {
    EnableRaiseHook(false);
    return ThrowAndCatch(0);
  };
  BENCHMARK("raise hook on") {
    EnableRaiseHook(true);
    return ThrowAndCatch(0);
  };
  // Interleaved rounds, so that a slow spell of the machine hits both.
  constexpr int kIterations = 20000;
  double off = 0;
  double on = 0;
  for (int round = 0; round < 5; ++round) {
    EnableRaiseHook(false);
    off += SecondsFor(kIterations);
    EnableRaiseHook(true);
    on += SecondsFor(kIterations);
  }
  EnableRaiseHook(false);
  std::printf("throw and catch: %.2f us unhooked, %.2f us hooked, ratio %.3f (aim: at most 1.10)\n",
              off / (5.0 * kIterations) * 1e6, on / (5.0 * kIterations) * 1e6, on / off);
}

TEST_CASE("throw to finished report with eight other threads") {
  StartExceptionLog({GetModuleHandleA(nullptr), false, true});
  SetModuleInitializing(false);
  REQUIRE(ExceptionLogActive());
  std::atomic<int> reports{0};
  PipelineSteps steps;
  steps.reported = [&](const PipelineReport&, PipelineContext&) { reports.fetch_add(1); };
  SetPipelineSteps(steps);

  // Threads made through the hooked CreateThread are listed with their stacks.
  std::atomic<bool> stop{false};
  std::vector<HANDLE> threads;
  for (int i = 0; i < 8; ++i) {
    threads.push_back(CreateThread(nullptr, 0, &IdleUntilStopped, &stop, 0, nullptr));
  }
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
  REQUIRE(reports.load() > 0);
  SetPipelineSteps({});
  StopExceptionLog();
}
