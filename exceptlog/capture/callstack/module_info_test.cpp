#include "exceptlog/capture/callstack/module_info.h"

#include <gtest/gtest.h>

namespace vellum::exceptlog {
namespace {

TEST(ModuleInfo, ObjectManagerPrefixIsCutAtTheDriveLetter) {
  EXPECT_EQ(ModuleFileNameWithoutPrefix("\\??\\C:\\Windows\\system32\\a.dll"), "C:\\Windows\\system32\\a.dll");
  EXPECT_EQ(ModuleFileNameWithoutPrefix("\\\\?\\D:\\x.dll"), "D:\\x.dll");
  EXPECT_EQ(ModuleFileNameWithoutPrefix("C:\\plain\\b.dll"), "C:\\plain\\b.dll");
  EXPECT_EQ(ModuleFileNameWithoutPrefix("\\??\\UNC\\server\\share\\c.dll"), "\\??\\UNC\\server\\share\\c.dll")
      << "no drive letter: left as it is";
}

TEST(ModuleInfo, FileVersionText) {
  EXPECT_EQ(FormatFileVersion(0x00070000, 0x00020011), "7.0.2.17");
  EXPECT_EQ(FormatFileVersion(0xFFFF0001, 0x00000000), "65535.1.0.0");
  EXPECT_EQ(FormatFileVersion(0, 0), "");
  EXPECT_EQ(FormatFileVersion(0, 1), "0.0.0.1");
}

}  // namespace
}  // namespace vellum::exceptlog
