// Addresses resolved per second from a stored block's line tables of the
// product's size (some 40,000 unit records), looked up one by one as the
// call-stack collection does, and through the unit index as exlog does.
#include <benchmark/benchmark.h>

#include <random>

#include "exceptlog/capture/debugdata/debug_data_index.h"
#include "exceptlog/capture/debugdata/line_table_writer.h"

namespace vellum::exceptlog {
namespace {

struct Module {
  std::vector<std::uint8_t> data;
  BlockCipher cipher{std::string()};
  std::vector<std::uint32_t> addresses;
  DebugDataView View() const { return {data, kOwnBlockVersion, true, cipher.Key()}; }
};

const Module& ProductSizedModule() {
  static const Module module = [] {
    Module m;
    std::mt19937 engine(7);
    const auto random = [&engine] { return static_cast<std::uint32_t>(engine()); };
    LineTableSource source;
    for (int i = 0; i < 350; ++i) source.UnitNames.push_back("unit" + std::to_string(i) + ".cpp");
    std::uint32_t offset = 0;
    for (std::uint32_t p = 0; p < 15000; ++p) {
      const std::uint32_t first = 10 + random() % 2000;
      source.Procedures.push_back({"TClass" + std::to_string(p % 500), "Method" + std::to_string(p), first});
      const std::uint32_t unit = random() % 350;
      for (int r = 0; r < 5; ++r) {
        const std::uint32_t size = 2 + random() % 30;
        source.Ranges.push_back({offset, size, first + random() % 30, r == 2 ? (unit + 1) % 350 : unit, p});
        offset += size;
      }
    }
    m.data = WriteDebugData(source, kOwnBlockVersion, m.cipher, {});
    for (int i = 0; i < 1024; ++i) m.addresses.push_back(random() % offset);
    return m;
  }();
  return module;
}

bool Frame(std::uint32_t, std::span<std::uint8_t> out) {
  for (std::uint8_t& byte : out) byte = 0x55;
  return true;
}

void BM_LookUpLinear(benchmark::State& state) {
  const Module& module = ProductSizedModule();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(LookUpDebugData(module.View(), module.addresses[i++ % module.addresses.size()], Frame));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["bytes"] = static_cast<double>(module.data.size());
}
BENCHMARK(BM_LookUpLinear);

void BM_LookUpIndexed(benchmark::State& state) {
  const Module& module = ProductSizedModule();
  const DebugDataIndex index(module.View());
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(index.LookUp(module.addresses[i++ % module.addresses.size()], Frame));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["units"] = static_cast<double>(index.UnitCount());
}
BENCHMARK(BM_LookUpIndexed);

void BM_BuildIndex(benchmark::State& state) {
  const Module& module = ProductSizedModule();
  for (auto _ : state) benchmark::DoNotOptimize(DebugDataIndex(module.View()).UnitCount());
}
BENCHMARK(BM_BuildIndex);

}  // namespace
}  // namespace vellum::exceptlog
