// What only a 64-bit process needs of procedure hooks: jumps and operands
// relative to the instruction pointer reach 2 GB, while the address space
// is far larger.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "exceptlog/capture/hooking/hook_errors.h"
#include "exceptlog/capture/hooking/testing/win/prologue_samples_x64_win.h"
#include "exceptlog/capture/hooking/win/hooking_win.h"
#include "exceptlog/capture/hooking/win/memory_write_win.h"
#include "exceptlog/capture/hooking/win/procedure_hooks_win.h"

namespace vellum::exceptlog {
namespace {

constexpr std::uint64_t k2GB = std::uint64_t{1} << 31;

std::uint64_t Distance(const void* a, const void* b) {
  const auto x = reinterpret_cast<std::uintptr_t>(a), y = reinterpret_cast<std::uintptr_t>(b);
  return x > y ? x - y : y - x;
}

// Where the 5-byte jump written at `procedure` goes.
const void* JumpTarget(const void* procedure) {
  const auto* code = static_cast<const std::uint8_t*>(procedure);
  std::int32_t displacement = 0;
  std::memcpy(&displacement, code + 1, sizeof displacement);
  return code + 5 + displacement;
}

HookingSample far_trampoline = nullptr;
int far_calls = 0;
int TenfoldHook(int x) {
  ++far_calls;
  return 10 * far_trampoline(x);
}

// "mov eax, [rip + 26]; add eax, ecx; ret", padding, and at offset 32 the
// value 77 that the first instruction reads: x + 77.
void WriteFarProcedure(std::uint8_t* at) {
  const std::uint8_t code[] = {0x8B, 0x05, 26, 0, 0, 0, 0x01, 0xC8, 0xC3};
  std::memset(at, 0xCC, 32);
  std::memcpy(at, code, sizeof code);
  const std::uint32_t value = 77;
  std::memcpy(at + 32, &value, sizeof value);
}

class ProcedureHooks64 : public ::testing::Test {
 protected:
  void SetUp() override {
    far_calls = 0;
    StartHooking();
  }
  void TearDown() override { StopHooking(); }
};

// The procedure lies at the top of the address space, far from this program
// and its hook: the trampoline must be allocated near the procedure (its
// first instruction reads data beside it), and the procedure's jump goes to
// a relay there.
TEST_F(ProcedureHooks64, AProcedureFarFromItsHookGoesThroughMemoryNearIt) {
  UniqueVirtualMemory memory(
      VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE | MEM_TOP_DOWN, PAGE_EXECUTE_READWRITE));
  ASSERT_TRUE(memory);
  auto* procedure = static_cast<std::uint8_t*>(memory.get());
  const auto* hook = reinterpret_cast<const void*>(&TenfoldHook);
  ASSERT_GT(Distance(procedure, hook), 2 * k2GB) << "the test needs a procedure out of the hook's reach";
  WriteFarProcedure(procedure);
  const std::vector<std::uint8_t> original(procedure, procedure + 16);
  const auto call = reinterpret_cast<HookingSample>(static_cast<void*>(procedure));
  ASSERT_EQ(call(4), 81);

  void* trampoline = HookProcedure(procedure, hook, "far");
  ASSERT_NE(trampoline, nullptr);
  far_trampoline = reinterpret_cast<HookingSample>(trampoline);
  EXPECT_LT(Distance(trampoline, procedure), k2GB);
  EXPECT_EQ(procedure[0], 0xE9);
  EXPECT_LT(Distance(JumpTarget(procedure), procedure), k2GB);
  EXPECT_EQ(call(4), 810) << "through the relay, the hook and the trampoline";
  EXPECT_EQ(call(-100), -230);
  EXPECT_EQ(far_trampoline(4), 81);
  EXPECT_EQ(far_calls, 2);

  EXPECT_TRUE(UnhookProcedure(procedure));
  EXPECT_EQ(std::vector<std::uint8_t>(procedure, procedure + 16), original);
  EXPECT_EQ(call(4), 81);
  MEMORY_BASIC_INFORMATION info{};
  ASSERT_NE(VirtualQuery(trampoline, &info, sizeof info), 0u);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE)) << "the trampoline and relay are freed";
}

// A wall of 4 GB of reserved address space with 2 GB free on either side:
// a procedure near its lower end finds memory only below it, one near its
// upper end only above it, and one in its middle none within 2 GB.
TEST_F(ProcedureHooks64, TrampolinesAreLookedForBelowAndAboveAndRefusedWhenNoneIsInReach) {
  constexpr std::uint64_t kMegabyte = 1 << 20;
  void* const area = VirtualAlloc(nullptr, 4 * k2GB, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(area, nullptr) << "8 GB of address space";
  ASSERT_TRUE(VirtualFree(area, 0, MEM_RELEASE));
  UniqueVirtualMemory wall(VirtualAlloc(static_cast<std::uint8_t*>(area) + k2GB, 2 * k2GB, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_TRUE(wall);
  auto* const wall_begin = static_cast<std::uint8_t*>(wall.get());
  auto* const wall_end = wall_begin + 2 * k2GB;

  struct Case {
    const char* name;
    std::uint8_t* procedure;
  };
  const Case below{"near the wall's lower end", wall_begin + kMegabyte};
  const Case above{"near the wall's upper end", wall_end - kMegabyte};
  const Case boxed_in{"boxed in", wall_begin + k2GB};
  for (const Case& procedure : {below, above, boxed_in}) {
    ASSERT_TRUE(VirtualAlloc(procedure.procedure, 4096, MEM_COMMIT, PAGE_EXECUTE_READWRITE));
    WriteFarProcedure(procedure.procedure);
  }

  for (const Case& procedure : {below, above}) {
    SCOPED_TRACE(procedure.name);
    far_calls = 0;
    void* trampoline = HookProcedure(procedure.procedure, reinterpret_cast<const void*>(&TenfoldHook), procedure.name);
    far_trampoline = reinterpret_cast<HookingSample>(trampoline);
    EXPECT_LT(Distance(trampoline, procedure.procedure), k2GB);
    EXPECT_TRUE(trampoline < wall_begin || trampoline >= wall_end);
    EXPECT_EQ(reinterpret_cast<HookingSample>(static_cast<void*>(procedure.procedure))(2), 790);
    EXPECT_EQ(far_calls, 1);
    EXPECT_TRUE(UnhookProcedure(procedure.procedure));
  }

  const std::vector<std::uint8_t> original(boxed_in.procedure, boxed_in.procedure + 16);
  try {
    HookProcedure(boxed_in.procedure, reinterpret_cast<const void*>(&TenfoldHook), boxed_in.name);
    ADD_FAILURE() << "hooked without a trampoline in reach";
  } catch (const EHookingError& e) {
    EXPECT_EQ(e.Message(),
              "Cannot hook the procedure \"boxed in\": no free memory for its trampoline lies within 2 GB of it.");
  }
  EXPECT_EQ(std::vector<std::uint8_t>(boxed_in.procedure, boxed_in.procedure + 16), original);
  EXPECT_EQ(reinterpret_cast<HookingSample>(static_cast<void*>(boxed_in.procedure))(1), 78);
  EXPECT_FALSE(UnhookProcedure(boxed_in.procedure));
}

TEST(JumpToMem64, RefusesATargetBeyond2GBAndWritesNothing) {
  UniqueVirtualMemory memory(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE | MEM_TOP_DOWN, PAGE_READWRITE));
  ASSERT_TRUE(memory);
  auto* at = static_cast<std::uint8_t*>(memory.get());
  const auto* target = reinterpret_cast<const void*>(&hooking_sample_rip_load);
  ASSERT_GT(Distance(at, target), k2GB);
  EXPECT_THROW(JumpToMem(at, target), EHookError);
  EXPECT_EQ(at[0], 0);
}

}  // namespace
}  // namespace vellum::exceptlog
