#include "exceptlog/capture/hooking/win/hooking_win.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "exceptlog/capture/hooking/internal_error.h"
#include "exceptlog/capture/hooking/testing/win/prologue_samples_win.h"
#include "exceptlog/capture/hooking/win/memory_write_win.h"
#include "exceptlog/capture/hooking/win/method_hooks_win.h"
#include "exceptlog/capture/hooking/win/procedure_hooks_win.h"

namespace vellum::exceptlog {
// Outside the anonymous namespace, so that calls go through the method table.
namespace lifecycle_probes {
struct Probe {
  virtual int Value() const { return 1; }
};
struct Other {
  virtual int Value() const { return 2; }
};
}  // namespace lifecycle_probes

namespace {

using lifecycle_probes::Other;
using lifecycle_probes::Probe;

int HOOKING_SAMPLE_CALL Doubling(int x) {
  return 2 * x;
}
[[gnu::noinline]] const Probe* Opaque(const Probe* probe) {
  asm volatile("" : "+r"(probe));
  return probe;
}
void* const* MethodTable(const void* object) {
  return *static_cast<void* const* const*>(object);
}

std::vector<std::string> reports;
void RecordReport(std::string_view section, std::uint64_t, std::string_view message) {
  reports.push_back(std::string(section) + ": " + std::string(message));
}

TEST(HookingLifecycle, StopRestoresProloguesAndSlotsAndStartsOver) {
  StartHooking();
  StartHooking();  // once per module; a second start keeps what is recorded
  ASSERT_TRUE(HookingStarted());
  const Probe probe;
  const Other other;
  const auto* procedure = reinterpret_cast<const std::uint8_t*>(&hooking_sample_near_call);
  const std::vector<std::uint8_t> prologue(procedure, procedure + 8);
  void* const original_method = MethodTable(&probe)[0];

  HookProcedure(procedure, reinterpret_cast<const void*>(&Doubling), "near call");
  HookVirtualMethod(MethodTable(&probe), 0, MethodTable(&other)[0]);
  EXPECT_EQ(hooking_sample_near_call(4), 8);
  EXPECT_EQ(Opaque(&probe)->Value(), 2);

  StopHooking();
  EXPECT_FALSE(HookingStarted());
  EXPECT_EQ(std::vector<std::uint8_t>(procedure, procedure + 8), prologue);
  EXPECT_EQ(MethodTable(&probe)[0], original_method);
  EXPECT_EQ(hooking_sample_near_call(4), 23);
  EXPECT_EQ(Opaque(&probe)->Value(), 1);
  StopHooking();  // nothing left to do

  StartHooking();
  HookProcedure(procedure, reinterpret_cast<const void*>(&Doubling), "near call");
  EXPECT_EQ(hooking_sample_near_call(4), 8);
  StopHooking();
  EXPECT_EQ(hooking_sample_near_call(4), 23);
}

TEST(HookingLifecycle, AChangeThatCannotBeUndoneIsReportedAfterTheOthersAreUndone) {
  // A procedure in memory of its own: "mov eax, 42; ret" and padding.
  UniqueVirtualMemory memory(VirtualAlloc(nullptr, 64, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
  ASSERT_TRUE(memory);
  const std::uint8_t code[] = {0xB8, 42,   0,    0,    0,    0xC3, 0xCC, 0xCC, 0xCC, 0xCC,
                               0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC};
  std::memcpy(memory.get(), code, sizeof code);

  StartHooking();
  HookProcedure(memory.get(), reinterpret_cast<const void*>(&Doubling), "vanishing");
  HookProcedure(reinterpret_cast<const void*>(&hooking_sample_padded), reinterpret_cast<const void*>(&Doubling),
                "padded");
  EXPECT_EQ(hooking_sample_padded(3), 6);
  memory.reset();  // the procedure's memory goes away while hooked

  reports.clear();
  const InternalErrorReporter previous = SetInternalErrorReporter(&RecordReport);
  try {
    StopHooking();
    ADD_FAILURE() << "the lost procedure was not reported";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message().rfind("Critical error at: \"EHook.Done\"\r\nError: \"VirtualProtect", 0), 0u) << e.Message();
  }
  SetInternalErrorReporter(previous);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].rfind("EHook.Done: VirtualProtect", 0), 0u) << reports[0];
  EXPECT_FALSE(HookingStarted());
  EXPECT_EQ(hooking_sample_padded(3), 3 ^ 0x55) << "restored although another restore failed first";
}

}  // namespace
}  // namespace vellum::exceptlog
