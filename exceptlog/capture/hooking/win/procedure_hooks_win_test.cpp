#include "exceptlog/capture/hooking/win/procedure_hooks_win.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "exceptlog/capture/hooking/hook_errors.h"
#include "exceptlog/capture/hooking/testing/win/prologue_samples_win.h"
#include "exceptlog/capture/hooking/win/hooking_win.h"
#include "exceptlog/capture/hooking/win/memory_write_win.h"

namespace vellum::exceptlog {
namespace {

struct HookState {
  HookingSample trampoline = nullptr;
  int calls = 0;
};
std::array<HookState, 12> hook_states;

template <int Index>
int HOOKING_SAMPLE_CALL CountingHook(int x) {
  ++hook_states[Index].calls;
  return hook_states[Index].trampoline(x);
}

// One counting hook per entry of hook_states.
template <int... Index>
constexpr std::array<HookingSample, sizeof...(Index)> MakeCountingHooks(std::integer_sequence<int, Index...>) {
  return {&CountingHook<Index>...};
}
constexpr auto counting_hooks = MakeCountingHooks(std::make_integer_sequence<int, hook_states.size()>{});

std::vector<std::uint8_t> FirstBytes(const void* code, std::size_t count = 16) {
  const auto* bytes = static_cast<const std::uint8_t*>(code);
  return {bytes, bytes + count};
}

class ProcedureHooks : public ::testing::Test {
 protected:
  void SetUp() override {
    hook_states = {};
    StartHooking();
  }
  void TearDown() override { StopHooking(); }
};

TEST_F(ProcedureHooks, ProceduresBehaveTheSameThroughTheirTrampolines) {
  const std::vector<PrologueSample> samples = MovablePrologueSamples();
  ASSERT_LE(samples.size(), hook_states.size());
  const std::vector<int> inputs = {-5, 0, 1, 7, 1000};
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const PrologueSample& sample = samples[i];
    SCOPED_TRACE(sample.name);
    std::vector<int> expected;
    for (int x : inputs) expected.push_back(sample.procedure(x));
    const auto original = FirstBytes(reinterpret_cast<const void*>(sample.procedure));

    auto trampoline =
        reinterpret_cast<HookingSample>(HookProcedure(reinterpret_cast<const void*>(sample.procedure),
                                                      reinterpret_cast<const void*>(counting_hooks[i]), sample.name));
    ASSERT_NE(trampoline, nullptr);
    hook_states[i].trampoline = trampoline;
    EXPECT_EQ(FirstBytes(reinterpret_cast<const void*>(sample.procedure))[0], 0xE9);
    for (std::size_t k = 0; k < inputs.size(); ++k) {
      EXPECT_EQ(sample.procedure(inputs[k]), expected[k]) << "through hook and trampoline, x = " << inputs[k];
      EXPECT_EQ(trampoline(inputs[k]), expected[k]) << "the trampoline alone, x = " << inputs[k];
    }
    EXPECT_EQ(hook_states[i].calls, static_cast<int>(inputs.size()));

    EXPECT_TRUE(UnhookProcedure(reinterpret_cast<const void*>(sample.procedure)));
    EXPECT_EQ(FirstBytes(reinterpret_cast<const void*>(sample.procedure)), original);
    EXPECT_EQ(sample.procedure(7), expected[3]);
    EXPECT_EQ(hook_states[i].calls, static_cast<int>(inputs.size())) << "no longer hooked";
    EXPECT_FALSE(UnhookProcedure(reinterpret_cast<const void*>(sample.procedure)));
  }
}

TEST_F(ProcedureHooks, HookingTwiceAnswersTheSameTrampolineAndChangesNothing) {
  const auto* procedure = reinterpret_cast<const void*>(&hooking_sample_short_jcc);
  void* first = HookProcedure(procedure, reinterpret_cast<const void*>(&CountingHook<0>), "twice");
  hook_states[0].trampoline = reinterpret_cast<HookingSample>(first);
  const auto hooked = FirstBytes(procedure);
  void* second = HookProcedure(procedure, reinterpret_cast<const void*>(&CountingHook<1>), "twice");
  EXPECT_EQ(second, first);
  EXPECT_EQ(FirstBytes(procedure), hooked);
  EXPECT_EQ(hooking_sample_short_jcc(0), 100);
  EXPECT_EQ(hook_states[0].calls, 1);
  EXPECT_EQ(hook_states[1].calls, 0);
}

TEST_F(ProcedureHooks, ThunksAreResolvedToTheProcedureTheyJumpTo) {
  const void* const target = reinterpret_cast<const void*>(&hooking_sample_short_jcc);
  UniqueVirtualMemory memory(VirtualAlloc(nullptr, 32, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
  ASSERT_TRUE(memory);
  auto* thunk = static_cast<std::uint8_t*>(memory.get());
  // The pointer the thunk jumps through sits right after it: 32-bit code names
  // its address, 64-bit code its distance from the jump's end.
  std::memcpy(thunk + 8, &target, sizeof target);
  std::uint32_t operand = 8 - 6;
  if constexpr (sizeof(void*) == 4) {
    // width: a 32-bit process's addresses are 32 bits wide.
    operand = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(thunk + 8));
  }
  // "JMP [target]; MOV EAX, EAX" and GNU ld's "JMP [target]; NOP; NOP".
  for (std::uint8_t padding : {0x8B, 0x90}) {
    thunk[0] = 0xFF;
    thunk[1] = 0x25;
    std::memcpy(thunk + 2, &operand, 4);
    thunk[6] = padding;
    thunk[7] = padding == 0x8B ? 0xC0 : 0x90;
    EXPECT_EQ(ResolveImportThunk(thunk), target);
    const auto thunk_bytes = FirstBytes(thunk, 8);

    hook_states[0].trampoline =
        reinterpret_cast<HookingSample>(HookProcedure(thunk, reinterpret_cast<const void*>(&CountingHook<0>), "thunk"));
    EXPECT_EQ(FirstBytes(thunk, 8), thunk_bytes) << "the thunk itself stays";
    EXPECT_EQ(FirstBytes(target)[0], 0xE9);
    EXPECT_EQ(reinterpret_cast<HookingSample>(static_cast<void*>(thunk))(4), 5);
    EXPECT_EQ(hook_states[0].calls, 1);
    EXPECT_TRUE(UnhookProcedure(thunk));
    hook_states[0].calls = 0;
  }
  // Without the padding it is an ordinary indirect jump.
  thunk[6] = 0xCC;
  EXPECT_EQ(ResolveImportThunk(thunk), thunk);
}

TEST_F(ProcedureHooks, FailuresNameTheProcedureAndLeaveItAlone) {
  const auto* hook = reinterpret_cast<const void*>(&CountingHook<0>);
  try {
    HookProcedure(nullptr, hook, "SymbolID = 1");
    ADD_FAILURE() << "nil procedure hooked";
  } catch (const EProcNull& e) {
    EXPECT_EQ(e.Message(), "Cannot hook a null procedure (\"SymbolID = 1\").");
  }

  const auto* too_short = reinterpret_cast<const void*>(&hooking_sample_too_short);
  const auto before = FirstBytes(too_short);
  try {
    HookProcedure(too_short, hook, "too short");
    ADD_FAILURE() << "a one-byte procedure was overwritten with a jump";
  } catch (const EHookingError& e) {
    EXPECT_EQ(e.Message(), "Cannot hook the procedure \"too short\".");
  }
  EXPECT_EQ(FirstBytes(too_short), before);
  EXPECT_EQ(hooking_sample_after_too_short(1), 2);

  StopHooking();
  EXPECT_THROW(HookProcedure(reinterpret_cast<const void*>(&hooking_sample_padded), hook, "not started"),
               EHookingError);
  EXPECT_FALSE(UnhookProcedure(reinterpret_cast<const void*>(&hooking_sample_padded)));
}

TEST(WriteMem, WritesThroughAnyProtectionAndRestoresEachPage) {
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  const std::size_t page = system.dwPageSize;
  UniqueVirtualMemory memory(VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_TRUE(memory);
  auto* base = static_cast<std::uint8_t*>(memory.get());
  DWORD previous = 0;
  ASSERT_TRUE(VirtualProtect(base, page, PAGE_READONLY, &previous));
  ASSERT_TRUE(VirtualProtect(base + page, page, PAGE_EXECUTE_READ, &previous));

  const std::uint8_t bytes[] = {1, 2, 3, 4};
  WriteMem(base + page - 2, bytes, sizeof bytes);
  EXPECT_EQ(std::memcmp(base + page - 2, bytes, sizeof bytes), 0);
  MEMORY_BASIC_INFORMATION info{};
  VirtualQuery(base, &info, sizeof info);
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READONLY));
  VirtualQuery(base + page, &info, sizeof info);
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_EXECUTE_READ));

  JumpToMem(base + 16, base + 0x100);
  EXPECT_EQ(base[16], 0xE9);
  std::int32_t distance = 0;
  std::memcpy(&distance, base + 17, 4);
  EXPECT_EQ(distance, 0x100 - 16 - 5);

  // Reserved but not committed: nothing to write to.
  UniqueVirtualMemory reserved(VirtualAlloc(nullptr, page, MEM_RESERVE, PAGE_NOACCESS));
  EXPECT_THROW(WriteMem(reserved.get(), bytes, sizeof bytes), EOSError);
}

}  // namespace
}  // namespace vellum::exceptlog
