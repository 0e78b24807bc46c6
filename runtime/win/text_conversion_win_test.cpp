#include "runtime/win/text_conversion_win.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <string>

namespace vellum::win {
namespace {

using namespace std::string_literals;

// How the system's ANSI code page spells U+00E9 (e acute), for the code pages
// a test machine is likely to run with; empty for any other.
std::string AnsiEAcute() {
  switch (GetACP()) {
    case 1250:
    case 1252:
    case 1254:
    case 1257:
    case 28591: return "\xE9";
    case CP_UTF8: return "\xC3\xA9";
    default: return {};
  }
}

TEST(TextConversion, EmptyAndAsciiTextConvertBothWays) {
  EXPECT_EQ(WideFromAnsi(""), L"");
  EXPECT_EQ(AnsiFromWide(L""), "");
  EXPECT_EQ(WideFromAnsi("Vellum Tessera 7.0"), L"Vellum Tessera 7.0");
  EXPECT_EQ(AnsiFromWide(L"Vellum Tessera 7.0"), "Vellum Tessera 7.0");
}

TEST(TextConversion, TextBeyondAsciiInTheAnsiCodePageRoundTrips) {
  const std::string e_acute = AnsiEAcute();
  if (e_acute.empty()) GTEST_SKIP() << "no known spelling of U+00E9 in code page " << GetACP();
  const std::string ansi = "caf" + e_acute + " 7.0";
  const std::wstring wide = WideFromAnsi(ansi);
  EXPECT_EQ(wide, L"caf\u00E9 7.0");
  EXPECT_EQ(AnsiFromWide(wide), ansi);
}

TEST(TextConversion, EmbeddedNulsAreKeptAsCharacters) {
  const std::string ansi = "a\0b\0"s;
  const std::wstring wide = WideFromAnsi(ansi);
  EXPECT_EQ(wide, L"a\0b\0"s);
  EXPECT_EQ(AnsiFromWide(wide), ansi);
}

}  // namespace
}  // namespace vellum::win
