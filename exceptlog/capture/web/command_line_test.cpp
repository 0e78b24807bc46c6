#include "exceptlog/capture/web/command_line.h"

#include <gtest/gtest.h>

namespace vellum::exceptlog {
namespace {

using Parameters = std::vector<std::string>;

TEST(SplitCommandLine, ProgramNameAndBlankSeparatedParameters) {
  EXPECT_EQ(SplitCommandLine("prog.exe  a\tb "), (Parameters{"prog.exe", "a", "b"}));
  EXPECT_EQ(SplitCommandLine(R"("C:\Program Files\x.exe" C:\dir\file.ini)"),
            (Parameters{R"(C:\Program Files\x.exe)", R"(C:\dir\file.ini)"}));
  EXPECT_EQ(SplitCommandLine(""), (Parameters{""}));
}

TEST(SplitCommandLine, QuotesAndTheBackslashesBeforeThem) {
  EXPECT_EQ(SplitCommandLine(R"(p "a b" c"d e"f)"), (Parameters{"p", "a b", "cd ef"}));
  EXPECT_EQ(SplitCommandLine(R"(p a\\\"b a\\"b c" a\\b)"), (Parameters{"p", R"(a\"b)", R"(a\b c)", R"(a\\b)"}));
  EXPECT_EQ(SplitCommandLine(R"(p "say ""hi""" "")"), (Parameters{"p", R"(say "hi")", ""}));
  // An unclosed quote runs to the end.
  EXPECT_EQ(SplitCommandLine(R"(p "open to the end)"), (Parameters{"p", "open to the end"}));
}

}  // namespace
}  // namespace vellum::exceptlog
