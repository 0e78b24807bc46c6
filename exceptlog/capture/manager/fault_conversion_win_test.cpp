// Faults in the module's own code become exceptions of the system's classes,
// caught by ordinary handlers; the raise state keeps where they happened.
#include "exceptlog/capture/manager/fault_conversion_win.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "exceptlog/capture/manager/raise_state_win.h"
#include "runtime/exception.h"
#include "runtime/win/cpu_context_win.h"

namespace vellum::exceptlog {
namespace {

// The image of this test program: the conversion's range.
std::pair<std::uintptr_t, std::uintptr_t> OwnImage() {
  const auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return {base, base + nt->OptionalHeader.SizeOfImage};
}

class FaultConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto [start, end] = OwnImage();
    StartFaultConversion(start, end);
    EnableRaiseHook(true);
  }
  void TearDown() override {
    EnableRaiseHook(false);
    StopFaultConversion();
  }
};

volatile int* volatile null_pointer = nullptr;
volatile int zero = 0;
volatile int sink = 0;  // keeps a faulting result from being optimised away

// A leaf: in a 64-bit process it faults with the stack pointer just below
// its return address, 8 off the 16-byte alignment a call needs.
__attribute__((noinline)) int ReadNull() {
  return *null_pointer;
}
__attribute__((noinline)) void WriteNull() {
  *null_pointer = 1;
}
__attribute__((noinline)) int DivideByZero(int value) {
  return value / zero;
}

// A destructor of a local in the faulting procedure runs during unwinding.
struct Cleanup {
  bool* ran;
  ~Cleanup() { *ran = true; }
};
__attribute__((noinline)) int ReadNullWithCleanup(bool* ran) {
  Cleanup cleanup{ran};
  return *null_pointer + 1;
}

TEST_F(FaultConversionTest, AccessViolationsBecomeEAccessViolationThrownAtTheFault) {
  try {
    sink = ReadNull();
    FAIL() << "no exception";
  } catch (const EAccessViolation& error) {
    const std::string message = error.Message();
    EXPECT_NE(message.find("Access violation at address "), std::string::npos) << message;
    EXPECT_NE(message.find("Read of address 00000000"), std::string::npos) << message;
    EXPECT_EQ(error.ExceptionCode(), 0xC0000005u);
    // The raise state names the faulting instruction, inside ReadNull.
    const TRaiseState& state = CurrentRaiseState();
    EXPECT_FALSE(state.language);
    EXPECT_TRUE(state.context_valid);
    EXPECT_EQ(state.raise_address, error.Info().address);
    const auto procedure = reinterpret_cast<std::uintptr_t>(&ReadNull);
    EXPECT_GE(state.raise_address, procedure);
    EXPECT_LT(state.raise_address, procedure + 64);
    EXPECT_GT(state.copy_size, 0u);
    if constexpr (sizeof(void*) == 8) {
      // The walk of a 64-bit stack starts at the fault's own registers.
      EXPECT_TRUE(state.walk_valid);
      EXPECT_EQ(win::InstructionPointer(state.walk), state.raise_address);
    }
  }
  try {
    WriteNull();
    FAIL() << "no exception";
  } catch (const EAccessViolation& error) {
    EXPECT_NE(error.Message().find("Write of address 00000000"), std::string::npos) << error.Message();
  }
}

TEST_F(FaultConversionTest, DivisionByZeroAndCleanupsOfTheFaultingProcedure) {
  EXPECT_THROW(sink = DivideByZero(7), EDivByZero);
  bool ran = false;
  EXPECT_THROW(sink = ReadNullWithCleanup(&ran), EAccessViolation);
  EXPECT_TRUE(ran) << "the faulting procedure's locals are destroyed";
  // The program goes on: the same fault again converts again.
  EXPECT_THROW(sink = ReadNull(), EExternal);
}

bool seen_by_next = false;
LONG CALLBACK SkipFaultingLoad(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) return EXCEPTION_CONTINUE_SEARCH;
  seen_by_next = true;
  CONTEXT& context = *pointers->ContextRecord;
  win::SetInstructionPointer(context, win::InstructionPointer(context) + 2);  // the load below: two bytes
  return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(FaultConversion, FaultsOutsideTheRangeAreLeftAlone) {
  // A vectored handler of the test, called after ours, sees whether the
  // fault went past ours.
  StartFaultConversion(0x1000, 0x2000);  // nowhere near our code
  void* next = AddVectoredExceptionHandler(0, &SkipFaultingLoad);
  int value = 0;
#if defined(__x86_64__)
  asm volatile("xor %%eax, %%eax\n\tmov (%%rax), %%eax\n\tmov %%eax, %0" : "=r"(value) : : "rax", "memory");
#else
  asm volatile("xor %%eax, %%eax\n\tmov (%%eax), %%eax\n\tmov %%eax, %0" : "=r"(value) : : "eax", "memory");
#endif
  RemoveVectoredExceptionHandler(next);
  StopFaultConversion();
  EXPECT_TRUE(seen_by_next);
}

// A 64-bit program's throw travels as a system exception of the compiler's
// own (and so passes the vectored handler): it must stay a throw, recorded
// by the raise hook and caught as thrown, however often.
TEST_F(FaultConversionTest, ThrowsAreNoFaults) {
  for (int i = 0; i < 3; ++i) {
    try {
      throw EConvertError("thrown");
    } catch (const EConvertError& error) {
      EXPECT_EQ(error.Message(), "thrown");
      EXPECT_TRUE(CurrentRaiseState().language);
      EXPECT_FALSE(CurrentRaiseState().fault_pending);
    }
  }
  EXPECT_THROW(sink = ReadNull(), EAccessViolation) << "a fault after throws still converts";
}

// Each thread records its own raises, from its first throw (which makes its
// state) on, and a catch handler still reads the last error the code before
// the throw set.
TEST_F(FaultConversionTest, EachThreadRecordsItsOwnRaiseAndKeepsItsLastError) {
  const void* main_object = nullptr;
  try {
    throw EConvertError("main");
  } catch (const EConvertError& error) {
    main_object = &error;
    EXPECT_EQ(CurrentRaiseState().object, main_object);
  }
  const TRaiseState* main_state = &CurrentRaiseState();
  std::vector<std::string> failures;
  std::thread other([&] {
    for (int i = 0; i < 2; ++i) {
      SetLastError(1234 + i);
      try {
        throw EConvertError("other");
      } catch (const EConvertError& error) {
        if (GetLastError() != static_cast<DWORD>(1234 + i)) failures.push_back("last error lost");
        if (CurrentRaiseState().object != &error) failures.push_back("raise not recorded");
        if (&CurrentRaiseState() == main_state) failures.push_back("the main thread's state");
      }
    }
  });
  other.join();
  EXPECT_EQ(failures, std::vector<std::string>{});
  EXPECT_EQ(&CurrentRaiseState(), main_state);
  EXPECT_EQ(CurrentRaiseState().object, main_object) << "another thread's throw left this one's record alone";
}

TEST(FaultConversion, ClassesAndMessagesByCode) {
  EXCEPTION_RECORD record{};
  record.ExceptionCode = EXCEPTION_INT_OVERFLOW;
  EXPECT_THROW(ThrowFault(record), EIntOverflow);
  record.ExceptionCode = EXCEPTION_PRIV_INSTRUCTION;
  EXPECT_THROW(ThrowFault(record), EPrivilege);
  record.ExceptionCode = EXCEPTION_FLT_DIVIDE_BY_ZERO;
  EXPECT_THROW(ThrowFault(record), EZeroDivide);
  record.ExceptionCode = EXCEPTION_STACK_OVERFLOW;
  EXPECT_THROW(ThrowFault(record), EStackOverflow);
  record.ExceptionCode = 0xE0001234;
  try {
    ThrowFault(record);
  } catch (const EExternalException& error) {
    EXPECT_EQ(error.Message(), "External exception E0001234");
  }
  EXPECT_FALSE(IsConvertedFaultCode(0x406D1388)) << "the thread-name exception is not a fault";
  EXPECT_FALSE(IsConvertedFaultCode(0x0EEDFADE));
}

}  // namespace
}  // namespace vellum::exceptlog
