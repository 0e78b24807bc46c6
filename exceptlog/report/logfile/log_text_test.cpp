#include "exceptlog/report/logfile/log_text.h"

#include <gtest/gtest.h>

#include "runtime/stream.h"

namespace vellum::exceptlog {
namespace {

// The reader older programs carry, step by step: it must go on finding every
// entry in the files written now.
std::vector<std::string> OlderReaderEntries(std::string text) {
  std::vector<std::string> entries;
  if (text.size() < 6) return entries;
  if (text.compare(text.size() - 6, 6, "\r\n\r\n\r\n") != 0) text += "\r\n\r\n\r\n";
  std::string normalised;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) {
      normalised += "\r\n";
    } else if (text[i] == '\n' && i > 0 && text[i - 1] != '\r') {
      normalised += "\r\n";
    } else {
      normalised += text[i];
    }
  }
  std::size_t start = 0;
  for (;;) {
    const std::size_t run = normalised.find("\r\n\r\n\r\n\r\n", start);
    if (run == std::string::npos) break;
    entries.push_back(normalised.substr(start, run + 6 - start));
    start = run;
    while (normalised.compare(start, 2, "\r\n") == 0) start += 2;
  }
  return entries;
}

const std::vector<std::string> kReports = {"DeveruVuz 5.0.4\r\n\r\nfirst\r\n", "DeveruVuz 5.0.4\r\n\r\nsecond",
                                           "DeveruVuz 5.0.4\r\n\r\nthird\r\n\r\n"};

TEST(LogText, ShortTextsHoldNoEntryAndAMissingFinalSeparatorIsSupplied) {
  EXPECT_TRUE(SplitEntries("").empty());
  EXPECT_TRUE(SplitEntries("abcde").empty());
  EXPECT_EQ(SplitEntries("abcdef"), std::vector<std::string>{"abcdef\r\n\r\n\r\n"});
  const auto entries = SplitEntries("one\r\n\r\n\r\n\r\ntwo\r\nlast line");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1], "two\r\nlast line\r\n\r\n\r\n");
  EXPECT_EQ(SplitEntries("one\r\n\r\n\r\n\r\n\r\n\r\n"), std::vector<std::string>{"one\r\n\r\n\r\n"})
      << "a trailing run is no entry";
}

TEST(LogText, LoneBreaksBecomeCrLfAndEntriesStartAtTheirHeader) {
  EXPECT_EQ(NormaliseLineBreaks("a\rb\nc\r\nd\n\re"), "a\r\nb\r\nc\r\nd\r\n\r\ne");
  const auto entries = SplitEntries("\n\nhead a\nline\n\n\n\nhead b\r\r\r\r\r\rhead c");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], "head a\r\nline\r\n\r\n\r\n");
  EXPECT_EQ(entries[1], "head b\r\n\r\n\r\n");
  EXPECT_EQ(entries[2], "head c\r\n\r\n\r\n");
}

TEST(LogText, EntriesSurviveAnyNumberOfRoundsAndOlderReadersSeeThemAll) {
  std::vector<std::string> entries;
  for (const std::string& report : kReports) entries.push_back(CanonicalEntry(report));
  // Loaded entries and freshly added ones side by side.
  std::vector<std::string> round = SplitEntries(JoinEntries(entries));
  round.push_back(CanonicalEntry("DeveruVuz 5.0.4\r\n\r\nfourth\r\n"));
  entries = round;
  for (int i = 0; i < 5; ++i) {
    const std::string file = JoinEntries(round);
    round = SplitEntries(file);
    ASSERT_EQ(round, entries) << "round " << i;
    EXPECT_EQ(OlderReaderEntries(file), entries) << "round " << i;
  }
  // What an older program wrote (the last entry without its final break,
  // entries with three or four pairs) comes back whole and stays.
  const std::string older = "A\r\n\r\n\r\n\r\n\r\nB\r\n\r\n\r\n\r\nC\r\n\r\n\r\n";
  const auto read = SplitEntries(older);
  ASSERT_EQ(read.size(), 3u);
  EXPECT_EQ(SplitEntries(JoinEntries(read)), read);
}

TEST(LogText, AReportCannotSplitIntoTwoEntries) {
  const std::string entry = CanonicalEntry("\r\nhead\r\n\r\n\r\n\r\n\r\nafter gap\n\n\n\n\nend\r\n\r\n");
  EXPECT_EQ(entry, "head\r\n\r\n\r\nafter gap\r\n\r\n\r\nend\r\n\r\n\r\n");
  EXPECT_EQ(SplitEntries(JoinEntries({entry})), std::vector<std::string>{entry});
}

TEST(LogText, OnlyTheTailOfAnOversizedLogIsReadFromItsFirstWholeEntry) {
  const std::string text =
      JoinEntries({CanonicalEntry("oldest entry"), CanonicalEntry("middle"), CanonicalEntry("newest")});
  MemoryStream whole(text);
  EXPECT_EQ(ReadLogBytes(whole), text);
  MemoryStream tail(text);
  const std::string read = ReadLogBytes(tail, text.size() - 3);
  EXPECT_EQ(SplitEntries(read), (std::vector<std::string>{CanonicalEntry("middle"), CanonicalEntry("newest")}));
  MemoryStream no_separator(std::string(100, 'x'));
  EXPECT_EQ(ReadLogBytes(no_separator, 10), "");
}

}  // namespace
}  // namespace vellum::exceptlog
