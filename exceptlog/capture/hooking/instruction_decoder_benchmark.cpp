// Decoding speed in instructions per second, over a stream shaped like
// compiled 32-bit code, and the cost of planning a hook's trampoline.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "exceptlog/capture/hooking/instruction_decoder.h"
#include "exceptlog/capture/hooking/trampoline.h"
#include "exceptlog/common/binary/pe_file.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Encodings a compiler emits most: prologues, moves through the frame and
// the stack, arithmetic, calls and branches, SSE moves, x87, padding.
const std::vector<Bytes>& Vocabulary() {
  static const std::vector<Bytes> vocabulary = {
      {0x55},
      {0x89, 0xE5},
      {0x8B, 0xFF},
      {0x83, 0xEC, 0x1C},
      {0x81, 0xEC, 0x00, 0x01, 0x00, 0x00},
      {0x8B, 0x45, 0x08},
      {0x8B, 0x44, 0x24, 0x04},
      {0x89, 0x44, 0x24, 0x08},
      {0xC7, 0x04, 0x24, 1, 2, 3, 4},
      {0xC7, 0x44, 0x24, 0x04, 1, 2, 3, 4},
      {0x8D, 0x4C, 0x24, 0x10},
      {0x8B, 0x84, 0x24, 0x80, 0, 0, 0},
      {0xA1, 1, 2, 3, 4},
      {0x31, 0xC0},
      {0x85, 0xC0},
      {0x39, 0xD0},
      {0x83, 0xF8, 0x01},
      {0x3D, 1, 2, 3, 4},
      {0x74, 0x10},
      {0x75, 0xF0},
      {0xEB, 0x08},
      {0x0F, 0x84, 1, 2, 0, 0},
      {0xE8, 1, 2, 0, 0},
      {0xE9, 1, 2, 0, 0},
      {0xFF, 0x15, 1, 2, 3, 4},
      {0xFF, 0xD0},
      {0x0F, 0xB6, 0xC0},
      {0x0F, 0xAF, 0xC2},
      {0xF7, 0xC1, 1, 0, 0, 0},
      {0xF6, 0x45, 0x08, 0x01},
      {0xC1, 0xE0, 0x04},
      {0x66, 0x89, 0x45, 0xFE},
      {0x66, 0x0F, 0x6F, 0x04, 0x24},
      {0xF3, 0x0F, 0x10, 0x45, 0x08},
      {0xDD, 0x45, 0x08},
      {0xD9, 0xC9},
      {0x50},
      {0x5D},
      {0xC3},
      {0xC2, 0x08, 0x00},
      {0x8D, 0x76, 0x00},
      {0x8D, 0xB4, 0x26, 0, 0, 0, 0},
      {0x0F, 0x1F, 0x44, 0x00, 0x00},
      {0x90},
  };
  return vocabulary;
}

Bytes CodeStream(std::size_t size) {
  std::mt19937 random(2024);
  std::uniform_int_distribution<std::size_t> pick(0, Vocabulary().size() - 1);
  Bytes code;
  while (code.size() < size) {
    const Bytes& instruction = Vocabulary()[pick(random)];
    code.insert(code.end(), instruction.begin(), instruction.end());
  }
  return code;
}

// The first section of a PE file (its code), or nothing when the file is
// missing or not a 32-bit x86 image (the decoder's instruction set).
Bytes FirstSectionOf(const char* path) {
  std::ifstream file(path, std::ios::binary);
  try {
    const vellum::exceptlog::PeFile image(
        Bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()});
    if (image.Sections().empty() || image.Machine() != vellum::exceptlog::kMachineI386) return {};
    const auto code = image.SectionData(image.Sections().front());
    return Bytes(code.begin(), code.end());
  } catch (const vellum::exceptlog::EPeFormatError&) {
    return {};
  }
}

void DecodeAll(benchmark::State& state, const Bytes& code) {
  const std::span<const std::uint8_t> all(code);
  std::int64_t instructions = 0;
  for (auto _ : state) {
    for (std::size_t offset = 0; offset < code.size();) {
      const auto decoded = vellum::exceptlog::DecodeInstruction(all.subspan(offset));
      offset += decoded.length;
      ++instructions;
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(instructions);
  state.SetLabel("items = instructions");
}

void BM_DecodeCodeStream(benchmark::State& state) {
  DecodeAll(state, CodeStream(1 << 20));
}
BENCHMARK(BM_DecodeCodeStream);

// Real compiled code: the code section of a 32-bit system DLL (Wine's, or the
// file named by VELLUM_DECODER_BENCH_BINARY).
void BM_DecodeSystemDll(benchmark::State& state) {
  const char* path = std::getenv("VELLUM_DECODER_BENCH_BINARY");
  const Bytes code = FirstSectionOf(path != nullptr ? path : "/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll");
  if (code.empty()) {
    state.SkipWithError("no 32-bit DLL to read");
    return;
  }
  DecodeAll(state, code);
}
BENCHMARK(BM_DecodeSystemDll);

void BM_PlanAndBuildTrampoline(benchmark::State& state) {
  const Bytes prologue = {0x8B, 0xFF, 0x55, 0x89, 0xE5, 0x74, 0x10, 0x83, 0xEC, 0x1C,
                          0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90};
  for (auto _ : state) {
    const auto plan = vellum::exceptlog::PlanTrampoline(prologue);
    auto code = vellum::exceptlog::BuildTrampoline(prologue, plan, 0x00401000, 0x10000000);
    benchmark::DoNotOptimize(code.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel("items = trampolines");
}
BENCHMARK(BM_PlanAndBuildTrampoline);

}  // namespace
