// The archives as the receiving side sees them: GNU tar and gzip read what
// the writer produced. Native only, since it runs the real tools.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <sstream>

#include "exceptlog/delivery/archive/testing/tgz_test_support.h"
#include "exceptlog/delivery/archive/tgz_writer.h"

namespace vellum::exceptlog {
namespace {

using testing::ScratchFolder;
using testing::WriteFileBytes;

struct Outcome {
  int status = -1;
  std::string output;  // stdout and stderr together: a warning is a finding
};

Outcome RunCommand(const std::string& command) {
  Outcome outcome;
  FILE* pipe = popen(("(" + command + ") 2>&1").c_str(), "r");
  if (!pipe) return outcome;
  char chunk[4096];
  std::size_t got = 0;
  while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) outcome.output.append(chunk, got);
  const int status = pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

// The archive ends with one zero block where the tar standard asks for two;
// GNU tar reads it and says so on stderr. Any other message is a finding.
std::string WithoutLoneBlockWarning(const std::string& output) {
  std::istringstream lines(output);
  std::string line, kept;
  int warnings = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("tar: A lone zero block at ", 0) == 0) {
      ++warnings;
      continue;
    }
    kept += line + "\n";
  }
  EXPECT_EQ(warnings, 1) << output;
  return kept;
}

std::string Text(std::size_t size, char fill) {
  return std::string(size, fill);
}

struct Expected {
  std::string name;  // as stored
  std::string content;
};

// "----------  0/0  513 2021-03-04 05:06:07 name" per entry.
void ExpectListing(const std::string& listing, const std::vector<Expected>& entries) {
  std::istringstream lines(listing);
  std::string line;
  std::size_t index = 0;
  while (std::getline(lines, line)) {
    ASSERT_LT(index, entries.size()) << "extra line: " << line;
    std::istringstream fields(line);
    std::string mode, owner, size, date, time, name;
    fields >> mode >> owner >> size >> date >> time;
    std::getline(fields >> std::ws, name);
    EXPECT_EQ(mode[0], '-') << line;  // a regular file
    EXPECT_EQ(size, std::to_string(entries[index].content.size())) << line;
    EXPECT_EQ(date + " " + time, "2021-03-04 05:06:07") << line;
    EXPECT_EQ(name, entries[index].name) << line;
    ++index;
  }
  EXPECT_EQ(index, entries.size());
}

class TGZToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RunCommand("tar --version").status != 0 || RunCommand("gzip --version").status != 0)
      GTEST_SKIP() << "tar or gzip missing";
  }
  ScratchFolder folder_;
};

TEST_F(TGZToolsTest, TarListsAndExtractsEveryEntryByteForByte) {
  std::string report;
  for (int i = 0; report.size() < 200000; ++i) {
    report += "|" + std::to_string(4198400 + i * 16) + "|VellumDeskBand.dll|bandform.cpp|pnlDockResize|\r\n";
  }
  const testing::Bytes noise = testing::PatternBytes(70000, 3);
  const std::string long_name = Text(150, 'L');
  const std::vector<Expected> entries = {
      {"empty.txt", ""},
      {"block.txt", Text(512, 'b')},
      {"block-and-one.txt", Text(513, 'c')},
      {Text(100, 'h'), "a name that fills its field"},
      {long_name.substr(0, 100), "a name cut at one hundred"},
      {"ExceptLog.txt", report},
      {"Screenshot.png", std::string(noise.begin(), noise.end())},
  };
  const std::string archive = folder_ / "CompressFiles.tgz";
  {
    TTGZWriter writer(archive);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::string& content = entries[i].content;
      if (i % 2 == 0) {  // half through files, stamped through their directory entry
        const std::string file = folder_ / ("source" + std::to_string(i));
        WriteFileBytes(file, content);
        ASSERT_EQ(RunCommand("touch -d @1614834367 " + Quoted(file)).status, 0);
        writer.AddFile(file, i == 4 ? long_name : entries[i].name);
      } else {
        MemoryStream stream(content);
        writer.AddStream(stream, i == 4 ? long_name : entries[i].name,
                         std::chrono::system_clock::time_point(std::chrono::seconds(1614834367)));
      }
    }
  }

  const Outcome test = RunCommand("gzip -t " + Quoted(archive));
  EXPECT_EQ(test.status, 0) << test.output;
  EXPECT_EQ(test.output, "");

  const Outcome listing = RunCommand("TZ=UTC tar --full-time -tvzf " + Quoted(archive));
  EXPECT_EQ(listing.status, 0) << listing.output;
  ExpectListing(WithoutLoneBlockWarning(listing.output), entries);

  for (const Expected& entry : entries) {
    const std::string file = folder_ / "extracted";
    const Outcome extracted =
        RunCommand("tar -xzOf " + Quoted(archive) + " " + Quoted(entry.name) + " >" + Quoted(file));
    EXPECT_EQ(extracted.status, 0) << entry.name;
    EXPECT_EQ(WithoutLoneBlockWarning(extracted.output), "") << entry.name;
    const testing::Bytes bytes = testing::ReadFileBytes(file);
    EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == entry.content) << entry.name << ": contents differ";
  }
}

TEST_F(TGZToolsTest, ArchiveWithoutEntriesIsEmptyToTar) {
  const std::string archive = folder_ / "empty.tgz";
  { TTGZWriter writer(archive); }
  EXPECT_EQ(RunCommand("gzip -t " + Quoted(archive)).status, 0);
  const Outcome listing = RunCommand("tar -tzf " + Quoted(archive));
  EXPECT_EQ(listing.status, 0) << listing.output;
  EXPECT_EQ(WithoutLoneBlockWarning(listing.output), "");
}

TEST_F(TGZToolsTest, GzipRestoresTheStoredTarName) {
  const std::string archive = folder_ / "CompressFiles.tgz";
  {
    TTGZWriter writer(archive);
    MemoryStream stream(std::string("named"));
    writer.AddStream(stream, "a.txt", std::chrono::system_clock::now());
  }
  const Outcome unpacked = RunCommand("cd " + Quoted(folder_.path().string()) + " && gzip -dN CompressFiles.tgz");
  EXPECT_EQ(unpacked.status, 0) << unpacked.output;
  EXPECT_TRUE(std::filesystem::exists(folder_.path() / "CompressFiles.tar"));
}

}  // namespace
}  // namespace vellum::exceptlog
