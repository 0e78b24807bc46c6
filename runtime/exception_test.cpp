#include "runtime/exception.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace vellum {
namespace {

TEST(ExceptionClasses, AnswerTheirNameAndEveryAncestorByName) {
  const EZeroDivide zero("Test Error.");
  EXPECT_STREQ(zero.ClassName(), "EZeroDivide");
  EXPECT_EQ(zero.Message(), "Test Error.");
  EXPECT_STREQ(zero.what(), "Test Error.");
  for (const char* ancestor : {"EZeroDivide", "EMathError", "EExternal", "Exception"}) {
    EXPECT_TRUE(zero.InheritsFrom(ancestor)) << ancestor;
  }
  EXPECT_FALSE(zero.InheritsFrom("EIntError"));
  EXPECT_FALSE(zero.InheritsFrom("EDivByZero"));
  EXPECT_FALSE(zero.InheritsFrom("ezerodivide")) << "class names compare exactly";

  const EReadError read("Stream read error");
  EXPECT_TRUE(read.InheritsFrom("EFilerError"));
  EXPECT_TRUE(read.InheritsFrom("EStreamError"));
  EXPECT_FALSE(read.InheritsFrom("EExternal"));

  using Chain = std::vector<std::string_view>;
  EXPECT_EQ(zero.ClassChain(), (Chain{"EZeroDivide", "EMathError", "EExternal", "Exception"}));
  EXPECT_EQ(EOSError("x", 5).ClassChain(), (Chain{"EOSError", "Exception"}));
  const Exception& through_base = read;
  EXPECT_EQ(through_base.ClassChain(), (Chain{"EReadError", "EFilerError", "EStreamError", "Exception"}));
}

TEST(ExceptionClasses, ExternalExceptionsKeepWhatTheSystemReported) {
  ExternalExceptionInfo info;
  info.code = 0xC0000005;
  info.address = 0x401000;
  info.parameter_count = 2;
  info.parameters[1] = 0x10;
  try {
    throw EAccessViolation("Access violation", info);
  } catch (const EExternal& e) {
    EXPECT_EQ(e.ExceptionCode(), 0xC0000005u);
    EXPECT_EQ(e.Info().address, 0x401000u);
    EXPECT_EQ(e.Info().parameters[1], 0x10u);
    EXPECT_STREQ(e.ClassName(), "EAccessViolation");
  }
}

TEST(ExceptionClasses, CatchPointsSeeTheMostDerivedClassThroughTheBase) {
  try {
    throw EOSError("CreateFileA failed", 5);
  } catch (const Exception& e) {
    EXPECT_EQ(ExceptionClassName(e), "EOSError");
    EXPECT_EQ(dynamic_cast<const EOSError&>(e).ErrorCode(), 5u);
  }
  EXPECT_EQ(ExceptionClassName(std::runtime_error("x")), "Exception");
}

TEST(ValidExceptionObject, AcceptsLiveObjectsOnly) {
  auto live = std::make_unique<EAbort>("stop");
  EXPECT_TRUE(IsValidExceptionObject(live.get(), &MemoryIsReadable));

  // A copy keeps a valid signature; a destroyed object loses it.
  alignas(Exception) unsigned char storage[sizeof(EConvertError)];
  auto* placed = new (storage) EConvertError("bad");
  EXPECT_TRUE(IsValidExceptionObject(placed, &MemoryIsReadable));
  placed->~EConvertError();
  EXPECT_FALSE(IsValidExceptionObject(storage, &MemoryIsReadable));
}

TEST(ValidExceptionObject, RejectsGarbageWithoutFaulting) {
  EXPECT_FALSE(IsValidExceptionObject(nullptr, &MemoryIsReadable));
  EXPECT_FALSE(IsValidExceptionObject(reinterpret_cast<const void*>(0x10), &MemoryIsReadable));
  EXPECT_FALSE(IsValidExceptionObject(reinterpret_cast<const void*>(0x3), &MemoryIsReadable));

  std::vector<std::uint32_t> zeros(64, 0);
  EXPECT_FALSE(IsValidExceptionObject(zeros.data(), &MemoryIsReadable));

  // A block whose first word points at readable memory and which carries the
  // signature word somewhere else is still rejected by the signature offset.
  std::vector<std::uint32_t> pattern(64, Exception::kSignature);
  pattern[0] = 0;
  EXPECT_FALSE(IsValidExceptionObject(pattern.data(), &MemoryIsReadable));

  // The probe decides; an object is never touched when its memory is not readable.
  EAbort abort("x");
  EXPECT_FALSE(IsValidExceptionObject(&abort, [](const void*, std::size_t) { return false; }));
}

TEST(MemoryProbe, TellsMappedFromUnmappedMemory) {
  int local = 7;
  EXPECT_TRUE(MemoryIsReadable(&local, sizeof local));
  EXPECT_FALSE(MemoryIsReadable(nullptr, 4));
  EXPECT_FALSE(MemoryIsReadable(reinterpret_cast<const void*>(0x1000), 4));
  std::vector<char> big(1 << 20, 'x');
  EXPECT_TRUE(MemoryIsReadable(big.data(), big.size()));
}

}  // namespace
}  // namespace vellum
