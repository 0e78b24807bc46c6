#include "band/testing/command_line.h"

#include <gtest/gtest.h>

namespace vellum::band::testing {
namespace {

TEST(StandinCommandLine, EveryOptionIsTakenAndDefaultsStandAlone) {
  const StandinOptions defaults = ParseCommandLine({});
  EXPECT_EQ(defaults.class_name, "TfrmVellumHidden");
  EXPECT_EQ(defaults.timeout_ms, 60000u);
  EXPECT_TRUE(defaults.log_path.empty());
  EXPECT_FALSE(defaults.answer_registry || defaults.dock);

  const StandinOptions all =
      ParseCommandLine({"--dock", "--log", "C:\\t\\a b.log", "--class", "TfrmSomethingElse", "--timeout-ms",
                        "4294967294", "--stop-event", "Local\\stop", "--answer-registry"});
  EXPECT_EQ(all.log_path, "C:\\t\\a b.log");
  EXPECT_EQ(all.class_name, "TfrmSomethingElse");
  EXPECT_EQ(all.timeout_ms, 4294967294u);
  EXPECT_EQ(all.stop_event, "Local\\stop");
  EXPECT_TRUE(all.answer_registry && all.dock);
}

TEST(StandinCommandLine, MalformedArgumentsAreRefusedByName) {
  // A value-taking option at the end must not read past the arguments, and a
  // time limit must be a positive number that fits the tick arithmetic.
  const std::vector<std::vector<std::string>> refused = {{"--log"},
                                                         {"--timeout-ms"},
                                                         {"--timeout-ms", "0"},
                                                         {"--timeout-ms", "-5"},
                                                         {"--timeout-ms", "10s"},
                                                         {"--timeout-ms", "4294967295"},
                                                         {"--timeout-ms", "99999999999"},
                                                         {"--class", ""},
                                                         {"--class", std::string(256, 'x')},
                                                         {"--stop-event", ""},
                                                         {"--dok"},
                                                         {"dock"}};
  for (const auto& arguments : refused) {
    EXPECT_THROW(ParseCommandLine(arguments), EStandinUsage) << arguments.front();
  }
  try {
    ParseCommandLine({"--answer-registry", "--frobnicate"});
    FAIL();
  } catch (const EStandinUsage& error) {
    EXPECT_NE(error.Message().find("--frobnicate"), std::string::npos);
    EXPECT_TRUE(error.InheritsFrom("Exception"));
  }
}

TEST(StandinHandleText, SignedDecimalCoversTheWhole32BitRange) {
  EXPECT_EQ(ParseHandleText("0"), 0u);
  EXPECT_EQ(ParseHandleText("65852"), 65852u);
  EXPECT_EQ(ParseHandleText("2147483647"), 0x7FFFFFFFu);
  // Handles with the top bit set are written negative by the band.
  EXPECT_EQ(ParseHandleText("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseHandleText("-2147483648"), 0x80000000u);
  for (std::uint32_t handle : {0u, 1u, 0x1003Eu, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu}) {
    EXPECT_EQ(ParseHandleText(FormatHandleText(handle)), handle) << handle;
  }
  EXPECT_EQ(FormatHandleText(0xFFFFFFFEu), "-2");
}

TEST(StandinHandleText, HandlesWidenBySignExtensionInA64BitProcess) {
  // What a 32-bit peer writes must name the same window in a 64-bit reader,
  // and a 64-bit handle written out must read back as itself.
  for (std::uint32_t bits : {0u, 0x1003Eu, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu}) {
    const std::uintptr_t handle = HandleFromBits(bits);
    EXPECT_EQ(HandleBits(handle), bits);
    EXPECT_EQ(static_cast<std::intptr_t>(handle), static_cast<std::int32_t>(bits));
  }
}

TEST(StandinHandleText, AnythingButAPlainNumberIsRefused) {
  for (const char* text :
       {"", "-", "+5", " 5", "5 ", "12abc", "0x10", "2147483648", "-2147483649", "99999999999", "--1", "1-"}) {
    EXPECT_FALSE(ParseHandleText(text).has_value()) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace vellum::band::testing
