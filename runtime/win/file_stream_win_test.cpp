// Share modes are enforced by Windows only; the native build accepts them.
#include <windows.h>
#include <gtest/gtest.h>

#include "runtime/stream.h"

namespace vellum {
namespace {

std::string TempFile(const char* name) {
  char directory[MAX_PATH];
  GetTempPathA(MAX_PATH, directory);
  return std::string(directory) + name;
}

TEST(FileStreamShareModes, AReaderThatDeniesWritingKeepsWritersOut) {
  const std::string path = TempFile("vellum_share_test.log");
  { FileStream(path, fmCreate).WriteString("report"); }
  {
    FileStream reader(path, fmOpenRead | fmShareDenyWrite);
    EXPECT_NO_THROW(FileStream(path, fmOpenRead | fmShareDenyWrite)) << "readers share";
    EXPECT_THROW(FileStream(path, fmOpenReadWrite | fmShareDenyNone), EFOpenError);
  }
  {
    FileStream exclusive(path, fmOpenReadWrite | fmShareExclusive);
    try {
      FileStream second(path, fmOpenRead | fmShareDenyNone);
      FAIL() << "opened a file held exclusively";
    } catch (const EFOpenError& e) {
      EXPECT_NE(e.Message().find(path), std::string::npos);
    }
  }
  {
    FileStream open_to_all(path, fmOpenRead | fmShareDenyNone);
    FileStream writer(path, fmOpenWrite | fmShareDenyNone);
    writer.WriteString("R");
    char first = 0;
    open_to_all.ReadBuffer(&first, 1);
    EXPECT_EQ(first, 'R') << "a shared reader sees the other handle's write";
  }
  EXPECT_TRUE(RemoveFile(path));
}

}  // namespace
}  // namespace vellum
