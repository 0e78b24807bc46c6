#include "exceptlog/delivery/archive/tgz_writer.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

#include "exceptlog/delivery/archive/file_time.h"
#include "exceptlog/delivery/archive/testing/tgz_test_support.h"

namespace vellum::exceptlog {
namespace {

using testing::GzipFile;
using testing::ReadFileBytes;
using testing::ReadGzip;
using testing::ReadTar;
using testing::ScratchFolder;
using testing::TarEntry;
using testing::WriteFileBytes;
using Clock = std::chrono::system_clock;

const Clock::time_point kMarch2021 = Clock::time_point(std::chrono::seconds(1614834367));

GzipFile ReadArchive(const std::string& file_name) {
  return ReadGzip(ReadFileBytes(file_name));
}

// A stream that claims more than it delivers, as a file cut short while it
// is read does.
class ShortStream : public MemoryStream {
 public:
  ShortStream() : MemoryStream(std::string(100, 's')) {}
  std::int64_t Size() override { return 1000; }
};

// A stream that claims more than an entry may hold, without the memory.
class HugeStream : public Stream {
 public:
  std::size_t Read(void*, std::size_t) override { return 0; }
  std::size_t Write(const void*, std::size_t) override { return 0; }
  std::int64_t Seek(std::int64_t, SeekOrigin origin) override { return origin == SeekOrigin::kEnd ? kSize : 0; }
  void SetSize(std::int64_t) override {}
  static constexpr std::int64_t kSize = std::int64_t{3} << 30;
};

TEST(TGZWriterTest, ArchiveWithoutEntriesHoldsOneZeroBlock) {
  ScratchFolder folder;
  { TTGZWriter writer(folder / "CompressFiles.tgz"); }
  const Bytes file = ReadFileBytes(folder / "CompressFiles.tgz");
  const Bytes header{0x1F, 0x8B, 8, 8, 0, 0, 0, 0, 0, 0};
  ASSERT_GE(file.size(), header.size());
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 10), header);
  const GzipFile gzip = ReadGzip(file);
  EXPECT_EQ(gzip.name, "CompressFiles.tar");
  EXPECT_EQ(gzip.data, Bytes(512, 0));
}

TEST(TGZWriterTest, StoredNameTakesTheTarExtension) {
  ScratchFolder folder;
  const std::pair<const char*, const char*> names[] = {
      {"report", "report.tar"}, {"a.b.tgz", "a.b.tar"}, {"log.copy.gz", "log.copy.tar"}};
  for (const auto& [file_name, stored] : names) {
    { TTGZWriter writer(folder / file_name); }
    EXPECT_EQ(ReadArchive(folder / file_name).name, stored);
  }
}

TEST(TGZWriterTest, EntriesTakeWholeBlocksAndOneEndBlockFollows) {
  ScratchFolder folder;
  const Bytes block = testing::PatternBytes(512, 1);
  const Bytes block_and_one = testing::PatternBytes(513, 2);
  {
    TTGZWriter writer(folder / "sizes.tgz");
    MemoryStream empty, one_block(block), two_blocks(block_and_one);
    writer.AddStream(empty, "empty.txt", kMarch2021);
    writer.AddStream(one_block, "512.bin", kMarch2021);
    writer.AddStream(two_blocks, "513.bin", kMarch2021);
  }
  const GzipFile gzip = ReadArchive(folder / "sizes.tgz");
  EXPECT_EQ(gzip.data.size(), 512u * (1 + 2 + 3 + 1));
  std::size_t end_blocks = 0;
  const std::vector<TarEntry> entries = ReadTar(gzip.data, &end_blocks);
  EXPECT_EQ(end_blocks, 1u);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "empty.txt");
  EXPECT_EQ(entries[0].size, 0u);
  EXPECT_EQ(entries[1].content, block);
  EXPECT_TRUE(entries[1].padding.empty());
  EXPECT_EQ(entries[2].content, block_and_one);
  EXPECT_EQ(entries[2].padding, Bytes(511, 0));
  for (const TarEntry& entry : entries) EXPECT_EQ(entry.time, 1614834367u) << entry.name;
}

TEST(TGZWriterTest, StreamEntriesKeepTheirNameAndStartAtThePosition) {
  ScratchFolder folder;
  TTGZWriter writer(folder / "stream.tgz");
  MemoryStream stream(std::string("header|payload"));
  stream.SetPosition(7);
  writer.AddStream(stream, "logs/ExceptLog.txt", kMarch2021 + std::chrono::milliseconds(999));
  MemoryStream old(std::string("old"));
  writer.AddStream(old, "old.txt", Clock::time_point(std::chrono::seconds(-5)));

  const std::vector<TarEntry> entries = ReadTar(writer.Tar());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "logs/ExceptLog.txt");
  EXPECT_EQ(std::string(entries[0].content.begin(), entries[0].content.end()), "payload");
  EXPECT_EQ(entries[0].time, 1614834367u);  // whole seconds
  EXPECT_EQ(entries[1].time, 0u);           // before 1970
}

TEST(TGZWriterTest, FilesAreNamedByTheirFileNamePart) {
  ScratchFolder folder;
  WriteFileBytes(folder / "ExceptLog.elf", "log contents");
  TTGZWriter writer(folder / "files.tgz");
  writer.AddFile(folder / "ExceptLog.elf");
  writer.AddFile(folder / "ExceptLog.elf", "C:\\Temp\\Renamed.elf");
  writer.AddFile(folder / "ExceptLog.elf", "reports/Other.elf");
  writer.Finish();

  const std::vector<TarEntry> entries = ReadTar(ReadArchive(folder / "files.tgz").data);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "ExceptLog.elf");
  EXPECT_EQ(entries[1].name, "Renamed.elf");
  EXPECT_EQ(entries[2].name, "Other.elf");
  const auto expected_time = FileLastWriteTime(folder / "ExceptLog.elf");
  ASSERT_TRUE(expected_time.has_value());
  for (const TarEntry& entry : entries) {
    EXPECT_EQ(std::string(entry.content.begin(), entry.content.end()), "log contents");
    EXPECT_EQ(entry.time, static_cast<std::uint64_t>(*expected_time));
  }
}

TEST(TGZWriterTest, LargeContentSurvivesTheRoundTrip) {
  ScratchFolder folder;
  const Bytes noise = testing::PatternBytes(3 << 20, 9);
  {
    TTGZWriter writer(folder / "large.tgz");
    MemoryStream stream(noise);
    writer.AddStream(stream, "noise.bin", kMarch2021);
  }
  const std::vector<TarEntry> entries = ReadTar(ReadArchive(folder / "large.tgz").data);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].content, noise);
}

TEST(TGZWriterTest, FailedEntryLeavesTheArchiveAsItWas) {
  ScratchFolder folder;
  TTGZWriter writer(folder / "failed.tgz");
  MemoryStream good(std::string("kept"));
  writer.AddStream(good, "kept.txt", kMarch2021);
  const Bytes before = writer.Tar();

  EXPECT_THROW(writer.AddFile(folder / "missing.txt"), EFOpenError);
  ShortStream short_stream;
  EXPECT_THROW(writer.AddStream(short_stream, "short.txt", kMarch2021), EReadError);
  HugeStream huge;
  EXPECT_THROW(writer.AddStream(huge, "huge.bin", kMarch2021), EStreamError);
  EXPECT_EQ(writer.Tar(), before);

  writer.Finish();
  const std::vector<TarEntry> entries = ReadTar(ReadArchive(folder / "failed.tgz").data);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "kept.txt");
}

TEST(TGZWriterTest, FinishWritesOnceAndReplacesAnExistingFile) {
  ScratchFolder folder;
  const std::string archive = folder / "once.tgz";
  WriteFileBytes(archive, std::string(100000, 'x'));
  {
    TTGZWriter writer(archive);
    writer.Finish();
    EXPECT_EQ(ReadArchive(archive).data, Bytes(512, 0));  // the old, longer file is gone entirely
    MemoryStream late(std::string("late"));
    EXPECT_THROW(writer.AddStream(late, "late.txt", kMarch2021), EInvalidOperation);
    std::filesystem::remove(archive);
    writer.Finish();
  }
  EXPECT_FALSE(std::filesystem::exists(archive));  // neither Finish again nor the destructor rewrote it
}

TEST(TGZWriterTest, WriteFailuresPassOnUnlessAnotherExceptionIsUnwinding) {
  ScratchFolder folder;
  const std::string unreachable = (folder.path() / "no such folder" / "x.tgz").string();
  {
    TTGZWriter writer(unreachable);
    EXPECT_THROW(writer.Finish(), EFCreateError);
  }
  EXPECT_THROW({ TTGZWriter writer(unreachable); }, EFCreateError);

  // Unwinding: the caller's exception arrives, the archive is still written
  // where it can be, and a failure to write it does not end the process.
  EXPECT_THROW(
      {
        TTGZWriter writer(unreachable);
        throw std::runtime_error("first");
      },
      std::runtime_error);
  const std::string reachable = folder / "partial.tgz";
  EXPECT_THROW(
      {
        TTGZWriter writer(reachable);
        MemoryStream stream(std::string("before the failure"));
        writer.AddStream(stream, "a.txt", kMarch2021);
        writer.AddFile(folder / "missing.txt");
      },
      EFOpenError);
  EXPECT_EQ(ReadTar(ReadArchive(reachable).data).size(), 1u);
}

TEST(FileTimeTest, AnswersForFilesOnly) {
  ScratchFolder folder;
  WriteFileBytes(folder / "fresh.txt", "x");
  const auto time = FileLastWriteTime(folder / "fresh.txt");
  ASSERT_TRUE(time.has_value());
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(Clock::now().time_since_epoch()).count();
  EXPECT_LE(std::abs(*time - now), 120);  // UTC, not shifted by a time zone
  EXPECT_FALSE(FileLastWriteTime(folder / "missing.txt").has_value());
  EXPECT_FALSE(FileLastWriteTime(folder.path().string()).has_value());
}

}  // namespace
}  // namespace vellum::exceptlog
