#include "exceptlog/capture/hooking/win/import_hooks_win.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "exceptlog/capture/hooking/hook_errors.h"
#include "exceptlog/capture/hooking/win/hooking_win.h"

namespace vellum::exceptlog {
namespace {

using CreateThreadProcedure = decltype(&CreateThread);
using ProbeRunThread = DWORD(__cdecl*)(DWORD);

struct Counter {
  CreateThreadProcedure next = nullptr;
  int calls = 0;
};
std::array<Counter, 2> counters;

template <int Index>
HANDLE WINAPI CountingCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                   LPVOID argument, DWORD flags, LPDWORD id) {
  ++counters[Index].calls;
  return counters[Index].next(security, stack, start, argument, flags, id);
}

void* AsPointer(CreateThreadProcedure procedure) {
  return reinterpret_cast<void*>(procedure);
}

DWORD WINAPI Idle(void*) {
  return 0;
}

class ImportHooks : public ::testing::Test {
 protected:
  void SetUp() override {
    counters = {};
    StartHooking();
    probe_ = LoadLibraryA("hooking_import_probe.dll");
    ASSERT_NE(probe_, nullptr) << "the probe DLL is built beside the test";
    run_ = reinterpret_cast<ProbeRunThread>(reinterpret_cast<void*>(GetProcAddress(probe_, "ProbeRunThread")));
    ASSERT_NE(run_, nullptr);
    create_thread_ = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateThread"));
    counters[0].next = counters[1].next = reinterpret_cast<CreateThreadProcedure>(create_thread_);
  }
  void TearDown() override {
    StopHooking();
    if (probe_ != nullptr) FreeLibrary(probe_);
  }
  // Runs a thread in the probe and in this program; answers the probe's result.
  DWORD RunThreads() {
    HANDLE own = CreateThread(nullptr, 0, &Idle, nullptr, 0, nullptr);
    WaitForSingleObject(own, INFINITE);
    CloseHandle(own);
    return run_(5);
  }

  HMODULE probe_ = nullptr;
  ProbeRunThread run_ = nullptr;
  void* create_thread_ = nullptr;
};

TEST_F(ImportHooks, RedirectTheModulesCallsUntilRestored) {
  void* previous = HookImport(probe_, "KERNEL32.dll", create_thread_, false, false, "kernel32.dll.CreateThread",
                              AsPointer(&CountingCreateThread<0>));
  EXPECT_EQ(previous, create_thread_);
  EXPECT_EQ(RunThreads(), 12u);
  EXPECT_EQ(counters[0].calls, 1) << "the probe's call only; this program's import table is another";

  EXPECT_EQ(HookImport(probe_, "kernel32.dll", AsPointer(&CountingCreateThread<0>), true, false,
                       "kernel32.dll.CreateThread", create_thread_),
            AsPointer(&CountingCreateThread<0>));
  EXPECT_EQ(RunThreads(), 12u);
  EXPECT_EQ(counters[0].calls, 1);
}

TEST_F(ImportHooks, HookEveryListedModuleThatIsLoaded) {
  const std::vector<std::string> modules = {"vellum_absent_module.dll", "hooking_import_probe.dll"};
  void* previous = nullptr;
  EXPECT_TRUE(HookImportInModules(modules, "kernel32.dll", false, previous, AsPointer(&CountingCreateThread<0>),
                                  "CreateThread"));
  EXPECT_EQ(previous, create_thread_);
  EXPECT_EQ(RunThreads(), 12u);
  EXPECT_EQ(counters[0].calls, 1);

  const std::vector<std::string> absent = {"vellum_absent_module.dll"};
  EXPECT_FALSE(HookImportInModules(absent, "kernel32.dll", false, previous, AsPointer(&CountingCreateThread<1>),
                                   "CreateThread"));
  try {
    HookImportInModules(modules, "kernel32.dll", true, previous, AsPointer(&CountingCreateThread<1>),
                        "VellumNoSuchProcedure");
    ADD_FAILURE() << "hooked a procedure the DLL does not have";
  } catch (const EProcNull& e) {
    EXPECT_EQ(e.Message(), "Cannot hook a null procedure (\"kernel32.dll.VellumNoSuchProcedure\").");
  }
}

TEST_F(ImportHooks, MissingImportsAreErrorsUnlessSilent) {
  void* beep = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "Beep"));
  const auto hook = AsPointer(&CountingCreateThread<0>);
  try {
    HookImport(probe_, "kernel32.dll", beep, false, false, "kernel32.dll.Beep", hook);
    ADD_FAILURE() << "the probe does not import Beep";
  } catch (const EHookingError& e) {
    EXPECT_EQ(e.Message(), "Cannot hook the procedure \"kernel32.dll.Beep\".");
  }
  EXPECT_EQ(HookImport(probe_, "kernel32.dll", beep, false, true, "kernel32.dll.Beep", hook), nullptr);
  EXPECT_THROW(HookImport(probe_, "advapi32.dll", create_thread_, false, false, "advapi32.dll.CreateThread", hook),
               EHookingError);
  EXPECT_THROW(HookImport(probe_, "kernel32.dll", nullptr, false, true, "kernel32.dll.Nothing", hook), EProcNull);

  // Not a module at all: no headers, no import table.
  std::vector<std::uint8_t> not_an_image(4096, 0);
  const auto fake = reinterpret_cast<HMODULE>(not_an_image.data());
  EXPECT_THROW(HookImport(fake, "kernel32.dll", create_thread_, false, false, "fake", hook), EHookingError);
  EXPECT_EQ(HookImport(fake, "kernel32.dll", create_thread_, false, true, "fake", hook), nullptr);

  EXPECT_EQ(RunThreads(), 12u);
  EXPECT_EQ(counters[0].calls, 0) << "nothing was changed";
}

TEST_F(ImportHooks, StopUndoesChainedHooksLastHookedFirst) {
  HookImport(probe_, "kernel32.dll", create_thread_, false, false, "first", AsPointer(&CountingCreateThread<0>));
  // A second hook replaces the first one's entry; stopping must undo them in
  // reverse, or the first hook would be left in the table.
  counters[1].next = &CountingCreateThread<0>;
  HookImport(probe_, "kernel32.dll", AsPointer(&CountingCreateThread<0>), false, false, "second",
             AsPointer(&CountingCreateThread<1>));
  EXPECT_EQ(RunThreads(), 12u);
  EXPECT_EQ(counters[0].calls, 1);
  EXPECT_EQ(counters[1].calls, 1);

  StopHooking();
  EXPECT_EQ(RunThreads(), 12u);
  EXPECT_EQ(counters[0].calls, 1);
  EXPECT_EQ(counters[1].calls, 1);
  EXPECT_THROW(
      HookImport(probe_, "kernel32.dll", create_thread_, false, false, "stopped", AsPointer(&CountingCreateThread<0>)),
      EHookingError)
      << "nothing is hooked, and so nothing left unrestorable, while stopped";
}

// Outside NT every importer reaches a system procedure through a thunk of its
// own ("PUSH address; JMP ..."); the pushed address identifies it.
TEST(ImportEntryMatching, SystemThunksMatchByTheValueTheyPush) {
  const std::uint8_t previous[] = {0x68, 0x44, 0x33, 0x22, 0x11, 0xE9, 0, 0, 0, 0};
  const std::uint8_t same[] = {0x68, 0x44, 0x33, 0x22, 0x11, 0xE9, 9, 9, 9, 9};
  const std::uint8_t other[] = {0x68, 0x45, 0x33, 0x22, 0x11, 0xE9, 0, 0, 0, 0};
  const std::uint8_t no_thunk[] = {0x68, 0x44, 0x33, 0x22, 0x11, 0xC3, 0, 0, 0, 0};
  const auto entry = [](const std::uint8_t* code) { return reinterpret_cast<std::uintptr_t>(code); };
  EXPECT_TRUE(detail::ImportEntryMatches(entry(previous), previous, false));
  EXPECT_FALSE(detail::ImportEntryMatches(entry(same), previous, false)) << "NT compares addresses only";
  EXPECT_TRUE(detail::ImportEntryMatches(entry(same), previous, true));
  EXPECT_FALSE(detail::ImportEntryMatches(entry(other), previous, true));
  EXPECT_FALSE(detail::ImportEntryMatches(entry(no_thunk), previous, true));
  EXPECT_FALSE(detail::ImportEntryMatches(0x10, previous, true)) << "an unreadable entry";
  if constexpr (sizeof(void*) == 8) {
    const auto upper_half = static_cast<std::uintptr_t>(std::uint64_t{1} << 32);
    EXPECT_FALSE(detail::ImportEntryMatches(entry(previous) ^ upper_half, previous, false)) << "all 8 bytes count";
  }
}

}  // namespace
}  // namespace vellum::exceptlog
