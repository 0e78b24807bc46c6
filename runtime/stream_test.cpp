#include "runtime/stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace vellum {
namespace {

std::string TempPath(const char* name) {
  return (std::filesystem::temp_directory_path() / name).string();
}

TEST(MemoryStream, ReadsWritesAndSeeksLikeAFile) {
  MemoryStream stream;
  stream.WriteString("hello world");
  EXPECT_EQ(stream.Size(), 11);
  EXPECT_EQ(stream.Position(), 11);
  stream.SetPosition(6);
  char word[5];
  stream.ReadBuffer(word, 5);
  EXPECT_EQ(std::string(word, 5), "world");
  EXPECT_EQ(stream.Read(word, 5), 0u) << "reading at the end moves nothing";

  stream.Seek(-5, SeekOrigin::kEnd);
  stream.WriteString("there!");
  EXPECT_EQ(stream.ToString(), "hello there!");

  stream.SetPosition(20);
  stream.WriteValue<std::uint8_t>(1);
  EXPECT_EQ(stream.Size(), 21) << "a write past the end fills the gap";
  EXPECT_EQ(stream.Bytes()[15], 0);
  EXPECT_THROW(stream.Seek(-1, SeekOrigin::kBeginning), EStreamError);

  stream.SetSize(5);
  EXPECT_EQ(stream.ToString(), "hello");
  EXPECT_EQ(stream.Position(), 5);
}

TEST(MemoryStream, ShortReadsRaiseTheReadError) {
  MemoryStream stream(std::string("abc"));
  char buffer[4];
  try {
    stream.ReadBuffer(buffer, 4);
    FAIL() << "no error";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
  stream.SetPosition(0);
  EXPECT_EQ(stream.ReadValue<std::uint16_t>(), 'a' | ('b' << 8));
}

TEST(Stream, CopyFromTakesAllOrTheAskedCount) {
  MemoryStream source(std::string(100000, 'q'));
  MemoryStream target;
  EXPECT_EQ(target.CopyFrom(source, 0), 100000);
  EXPECT_EQ(target.Size(), 100000);
  source.SetPosition(10);
  MemoryStream part;
  part.CopyFrom(source, 5);
  EXPECT_EQ(part.ToString(), "qqqqq");
  EXPECT_THROW(part.CopyFrom(source, 200000), EReadError);
}

TEST(FileStream, CreatesReadsAndReportsMissingFiles) {
  const std::string path = TempPath("vellum_stream_test.bin");
  {
    FileStream file(path, fmCreate);
    file.WriteString("line one\r\nline two\r\n");
  }
  EXPECT_TRUE(FileExists(path));
  {
    FileStream file(path, fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(file.Size(), 20);
    MemoryStream copy;
    copy.CopyFrom(file, 0);
    EXPECT_EQ(copy.ToString(), "line one\r\nline two\r\n");
  }
  {
    FileStream file(path, fmOpenReadWrite);
    file.SetSize(8);
  }
  MemoryStream loaded;
  loaded.LoadFromFile(path);
  EXPECT_EQ(loaded.ToString(), "line one");
  EXPECT_TRUE(RemoveFile(path));
  EXPECT_FALSE(FileExists(path));

  try {
    FileStream missing(path, fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message().rfind("Cannot open file \"" + path + "\". ", 0), 0u) << e.Message();
  }
  EXPECT_THROW(FileStream(TempPath("no/such/dir/x.bin"), fmCreate), EFCreateError);
}

}  // namespace
}  // namespace vellum
