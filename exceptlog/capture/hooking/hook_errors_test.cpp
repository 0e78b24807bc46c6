#include "exceptlog/capture/hooking/hook_errors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exceptlog/capture/hooking/internal_error.h"

namespace vellum::exceptlog {
namespace {

TEST(HookErrors, CarryTheirTextsAndClasses) {
  const EProcNull null = NullProcedureError("SymbolID = 0");
  EXPECT_EQ(null.Message(), "Cannot hook a null procedure (\"SymbolID = 0\").");
  const ESharedArea shared = SharedAreaError("C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL");
  EXPECT_EQ(shared.Message(),
            "Cannot hook the module \"C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL\" located into the shared-area.");
  const EHookingError hooking = HookingError("kernel32.dll.CreateThread");
  EXPECT_EQ(hooking.Message(), "Cannot hook the procedure \"kernel32.dll.CreateThread\".");
  for (const EHookError* error : std::vector<const EHookError*>{&null, &shared, &hooking}) {
    EXPECT_TRUE(error->InheritsFrom("EHookError"));
    EXPECT_TRUE(error->InheritsFrom("Exception"));
  }
  EXPECT_STREQ(null.ClassName(), "EProcNull");
  EXPECT_FALSE(null.InheritsFrom("EHookingError"));
}

struct Reported {
  std::string section;
  std::uint64_t address = 0;
  std::string message;
};
std::vector<Reported> reported;

void Record(std::string_view section, std::uint64_t address, std::string_view message) {
  reported.push_back({std::string(section), address, std::string(message)});
}

TEST(InternalErrors, FormatTheDebuggerLineAndTheCriticalError) {
  EXPECT_EQ(FormatInternalError("EHook.Init", 0x0040ABCD, "Out of memory"),
            "[ERROR] - Section: EHook.Init - Address: 0040ABCD - Message: \"Out of memory\"");
  EXPECT_EQ(FormatInternalError("705", 0, ""),
            "[ERROR] - Section: 705 - Address: 00000000 - Message: \"General internal error.\"");
  // A 64-bit process's code above 4 GB is written whole.
  EXPECT_EQ(FormatInternalError("705", 0x16B401234, "x"),
            "[ERROR] - Section: 705 - Address: 000000016B401234 - Message: \"x\"");
  EXPECT_EQ(FormatCriticalError("EHook.Done", "x"), "Critical error at: \"EHook.Done\"\r\nError: \"x\".");
}

TEST(InternalErrors, ACriticalSectionReportsItsFailureAndRaisesTheCriticalError) {
  reported.clear();
  const InternalErrorReporter previous = SetInternalErrorReporter(&Record);
  RunCriticalSection("EHook.Init", [] {});
  EXPECT_TRUE(reported.empty());
  try {
    RunCriticalSection("EHook.Done", [] { throw EHookError("slot not writable"); });
    ADD_FAILURE() << "no critical error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Critical error at: \"EHook.Done\"\r\nError: \"slot not writable\".");
  }
  try {
    RunCriticalSection("EHook.Init", [] { throw 42; });
    ADD_FAILURE() << "no critical error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Critical error at: \"EHook.Init\"\r\nError: \"General internal error.\".");
  }
  SetInternalErrorReporter(previous);
  ASSERT_EQ(reported.size(), 2u);
  EXPECT_EQ(reported[0].section, "EHook.Done");
  EXPECT_EQ(reported[0].message, "slot not writable");
  EXPECT_EQ(reported[1].message, "General internal error.");
}

}  // namespace
}  // namespace vellum::exceptlog
