// Decoding speed in instructions per second, over streams shaped like
// compiled 32-bit and 64-bit code and over real system DLLs of each bitness,
// and the cost of planning and building a hook's trampoline.
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

// What a 64-bit compiler emits most: REX.W moves and arithmetic, frame set-up
// through the stack pointer, operands relative to the instruction pointer,
// calls through the import table, SSE and VEX moves, padding.
const std::vector<Bytes>& Vocabulary64() {
  static const std::vector<Bytes> vocabulary = {
      {0x48, 0x89, 0x5C, 0x24, 0x08},
      {0x48, 0x89, 0x74, 0x24, 0x10},
      {0x57},
      {0x41, 0x56},
      {0x48, 0x83, 0xEC, 0x20},
      {0x48, 0x81, 0xEC, 0x00, 0x01, 0x00, 0x00},
      {0x48, 0x8B, 0x05, 1, 2, 0, 0},
      {0x48, 0x8D, 0x0D, 1, 2, 0, 0},
      {0x83, 0x3D, 1, 2, 0, 0, 0x00},
      {0x48, 0x33, 0xC4},
      {0x48, 0x89, 0x44, 0x24, 0x38},
      {0x48, 0x8B, 0xD9},
      {0x4C, 0x8B, 0xC2},
      {0x45, 0x33, 0xC0},
      {0x33, 0xD2},
      {0x48, 0x85, 0xC9},
      {0x8B, 0x41, 0x08},
      {0x48, 0x63, 0xC8},
      {0x0F, 0xB6, 0x04, 0x0A},
      {0x48, 0xB8, 1, 2, 3, 4, 5, 6, 7, 8},
      {0xC7, 0x44, 0x24, 0x28, 1, 0, 0, 0},
      {0x74, 0x10},
      {0x75, 0xF0},
      {0xEB, 0x08},
      {0x0F, 0x84, 1, 2, 0, 0},
      {0xE8, 1, 2, 0, 0},
      {0xFF, 0x15, 1, 2, 0, 0},
      {0x48, 0xFF, 0x25, 1, 2, 0, 0},
      {0x66, 0x0F, 0x6F, 0x04, 0x24},
      {0xF3, 0x0F, 0x10, 0x05, 1, 2, 0, 0},
      {0xC5, 0xF8, 0x28, 0xC1},
      {0xC4, 0xE3, 0x79, 0x0F, 0xC1, 0x08},
      {0x48, 0x8B, 0x5C, 0x24, 0x30},
      {0x48, 0x83, 0xC4, 0x20},
      {0x5F},
      {0xC3},
      {0xCC},
      {0x66, 0x0F, 0x1F, 0x44, 0x00, 0x00},
      {0x66, 0x2E, 0x0F, 0x1F, 0x84, 0x00, 0x00, 0x00, 0x00, 0x00},
      {0x90},
  };
  return vocabulary;
}

Bytes CodeStream(const std::vector<Bytes>& vocabulary, std::size_t size) {
  std::mt19937 random(2024);
  std::uniform_int_distribution<std::size_t> pick(0, vocabulary.size() - 1);
  Bytes code;
  while (code.size() < size) {
    const Bytes& instruction = vocabulary[pick(random)];
    code.insert(code.end(), instruction.begin(), instruction.end());
  }
  return code;
}

// The first section of a PE file (its code), or nothing when the file is
// missing or not an image of `machine` (the instruction set it is decoded as).
Bytes FirstSectionOf(const char* path, std::uint16_t machine) {
  std::ifstream file(path, std::ios::binary);
  try {
    const vellum::exceptlog::PeFile image(
        Bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()});
    if (image.Sections().empty() || image.Machine() != machine) return {};
    const auto code = image.SectionData(image.Sections().front());
    return Bytes(code.begin(), code.end());
  } catch (const vellum::exceptlog::EPeFormatError&) {
    return {};
  }
}

void DecodeAll(benchmark::State& state, const Bytes& code, vellum::exceptlog::CodeMode mode) {
  const std::span<const std::uint8_t> all(code);
  std::int64_t instructions = 0;
  for (auto _ : state) {
    for (std::size_t offset = 0; offset < code.size();) {
      const auto decoded = vellum::exceptlog::DecodeInstruction(all.subspan(offset), mode);
      offset += decoded.length;
      ++instructions;
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(instructions);
  state.SetLabel("items = instructions");
}

void BM_DecodeCodeStream(benchmark::State& state) {
  DecodeAll(state, CodeStream(Vocabulary(), 1 << 20), vellum::exceptlog::CodeMode::k32);
}
BENCHMARK(BM_DecodeCodeStream);

void BM_DecodeCodeStream64(benchmark::State& state) {
  DecodeAll(state, CodeStream(Vocabulary64(), 1 << 20), vellum::exceptlog::CodeMode::k64);
}
BENCHMARK(BM_DecodeCodeStream64);

// Real compiled code: the code section of a system DLL of the mode's bitness
// (Wine's, or the file named by the environment variable).
void DecodeSystemDll(benchmark::State& state, const char* variable, const char* fallback, std::uint16_t machine,
                     vellum::exceptlog::CodeMode mode) {
  const char* path = std::getenv(variable);
  const Bytes code = FirstSectionOf(path != nullptr ? path : fallback, machine);
  if (code.empty()) {
    state.SkipWithError("no DLL of this bitness to read");
    return;
  }
  DecodeAll(state, code, mode);
}

void BM_DecodeSystemDll(benchmark::State& state) {
  DecodeSystemDll(state, "VELLUM_DECODER_BENCH_BINARY", "/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll",
                  vellum::exceptlog::kMachineI386, vellum::exceptlog::CodeMode::k32);
}
BENCHMARK(BM_DecodeSystemDll);

void BM_DecodeSystemDll64(benchmark::State& state) {
  DecodeSystemDll(state, "VELLUM_DECODER_BENCH_BINARY_64", "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/kernel32.dll",
                  vellum::exceptlog::kMachineAmd64, vellum::exceptlog::CodeMode::k64);
}
BENCHMARK(BM_DecodeSystemDll64);

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

// 64-bit prologues: data read relative to the instruction pointer with the
// trampoline within reach (argument 1), and branches that leave the moved
// bytes with the trampoline far away, so every jump is absolute (argument 0).
void BM_PlanAndBuildTrampoline64(benchmark::State& state) {
  const bool near = state.range(0) != 0;
  const Bytes prologue = near ? Bytes{0x48, 0x8B, 0x05, 0x10, 0x20, 0x00, 0x00, 0x48, 0x83, 0xEC, 0x28,
                                      0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90}
                              : Bytes{0x48, 0x85, 0xC9, 0x74, 0x10, 0xE8, 0x00, 0x10, 0x00, 0x00, 0x90,
                                      0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90};
  const std::uint64_t trampoline = near ? 0x1'5000'0000 : 0x7FF0'0000'0000;
  for (auto _ : state) {
    const auto plan = vellum::exceptlog::PlanTrampoline(prologue, vellum::exceptlog::CodeMode::k64);
    auto code = vellum::exceptlog::BuildTrampoline(prologue, plan, 0x1'4000'1000, trampoline);
    benchmark::DoNotOptimize(code.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel("items = trampolines");
}
BENCHMARK(BM_PlanAndBuildTrampoline64)->Arg(1)->Arg(0);

}  // namespace
