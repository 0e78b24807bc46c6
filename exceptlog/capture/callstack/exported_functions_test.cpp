#include "exceptlog/capture/callstack/exported_functions.h"

#include <gtest/gtest.h>

#include "exceptlog/common/binary/testing/fake_memory_test_support.h"

namespace vellum::exceptlog {
namespace {

constexpr std::uint32_t kCode = 0x10001000;
constexpr std::uint32_t kCodeEnd = kCode + 0x100;

class ProcedureSize : public ::testing::Test {
 protected:
  void SetUp() override { memory_.Map(0x10000000, 0x2000); }
  std::uint32_t SizeOf(const std::vector<std::uint8_t>& code, std::uint32_t at = kCode) {
    memory_.Write(at, code);
    return EstimateProcedureSize(memory_, at, kCode, kCodeEnd);
  }
  testing::FakeMemory memory_;
};

TEST_F(ProcedureSize, FramedProcedureEndsAtTheReturnAfterItsFrameIsTakenDown) {
  // push ebp; mov ebp, esp; ...C3 inside an instruction...; pop ebp; ret
  EXPECT_EQ(SizeOf({0x55, 0x8B, 0xEC, 0xB8, 0xC3, 0, 0, 0, 0x5D, 0xC3}), 9u);
  // leave; ret 8
  EXPECT_EQ(SizeOf({0x55, 0x8B, 0xEC, 0x90, 0xC9, 0xC2, 0x08, 0x00}), 5u);
  // A 5D that is not followed by a return does not end it.
  EXPECT_EQ(SizeOf({0x55, 0x5D, 0x90, 0x5D, 0xCB}), 4u);
}

TEST_F(ProcedureSize, UnframedProcedureEndsAtTheFirstReturnByte) {
  EXPECT_EQ(SizeOf({0x8B, 0xC1, 0xCA, 0x04, 0x00}), 2u);
  EXPECT_EQ(SizeOf({0xC3}), 0u);
}

TEST_F(ProcedureSize, UnknownOutsideTheCodeSectionOrWithoutAnEnd) {
  EXPECT_EQ(EstimateProcedureSize(memory_, kCode - 4, kCode, kCodeEnd), 1u) << "before the code section";
  // No return byte before the code section ends (the rest is zero).
  EXPECT_EQ(SizeOf({0x55, 0x8B, 0xEC}, kCodeEnd - 3), 1u);
  // A code section that claims more than is mapped.
  EXPECT_EQ(EstimateProcedureSize(memory_, kCode + 0x10, kCode, 0x10003000), 1u);
}

TEST(FunctionsList, FindsTheFunctionWhoseRangeHoldsTheAddress) {
  TRuzadaFunctionsList list;
  list.Add({"Third", 0x3000, 0x20});
  list.Add({"First", 0x1000, 0x10});
  list.Add({"Second", 0x2000, 1});
  list.Add({"SecondAlias", 0x2000, 0x40});
  list.SortByAddress();
  EXPECT_EQ(list.Items(0).Name, "First");
  EXPECT_EQ(list.FindByAddress(0x1000)->Name, "First");
  EXPECT_EQ(list.FindByAddress(0x1010)->Name, "First") << "the return instruction belongs to it";
  EXPECT_EQ(list.FindByAddress(0x1011), nullptr);
  EXPECT_EQ(list.FindByAddress(0x0FFF), nullptr);
  EXPECT_EQ(list.FindByAddress(0x2030)->Name, "SecondAlias");
  EXPECT_EQ(list.FindByAddress(0x3020)->Name, "Third");
  EXPECT_EQ(list.FindByAddress(0xFFFFFFFF), nullptr);
  EXPECT_EQ(TRuzadaFunctionsList().FindByAddress(0x1000), nullptr);
}

}  // namespace
}  // namespace vellum::exceptlog
