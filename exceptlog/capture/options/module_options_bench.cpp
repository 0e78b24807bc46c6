// Module records load their stored options each time the module list is
// collected, and publishing saves them on every change.
#include <benchmark/benchmark.h>

#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/capture/options/module_options_test_support.h"

namespace vellum::exceptlog {
namespace {

void BM_SaveOptions(benchmark::State& state) {
  TRuzadaModuleOptions options("", false);
  testing::ChangeEveryOption(options);
  for (auto _ : state) {
    MemoryStream stream;
    options.SaveToStream(stream);
    benchmark::DoNotOptimize(stream.Memory());
  }
}
BENCHMARK(BM_SaveOptions);

void BM_LoadOptions(benchmark::State& state) {
  TRuzadaModuleOptions source("", false);
  testing::ChangeEveryOption(source);
  MemoryStream stream;
  source.SaveToStream(stream);
  TRuzadaModuleOptions options("", false);
  for (auto _ : state) {
    stream.SetPosition(0);
    options.LoadFromStream(stream, static_cast<std::uint16_t>(state.range(0)));
  }
}
BENCHMARK(BM_LoadOptions)->Arg(504);

void BM_AssignOptions(benchmark::State& state) {
  TRuzadaModuleOptions source("", false);
  testing::ChangeEveryOption(source);
  TRuzadaModuleOptions options("", false);
  for (auto _ : state) options.Assign(&source);
}
BENCHMARK(BM_AssignOptions);

}  // namespace
}  // namespace vellum::exceptlog
