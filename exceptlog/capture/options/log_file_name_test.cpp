#include "exceptlog/capture/options/log_file_name.h"

#include <gtest/gtest.h>

#include "exceptlog/capture/options/computer_name.h"
#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/capture/options/shared_block_name.h"

namespace vellum::exceptlog {
namespace {

TEST(LogFileName, FolderOrFileFromLogFilePath) {
  TRuzadaModuleOptions options("D:\\bin\\band.dll", false);
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\Logs\\x.elf", "C:\\Logs\\x.elf"},
      {"C:\\Logs", "C:\\Logs\\band.elf"},
      {"C:\\Logs\\", "C:\\Logs\\band.elf"},
      {"C:\\Logs\\app.log", "C:\\Logs\\app.log\\band.elf"},
      {"", "D:\\bin\\band.elf"},
      {"C:\\Logs\\X.ELF", "C:\\Logs\\X.ELF"},
      {"C:\\v1.2\\logs", "C:\\v1.2\\logs\\band.elf"},
  };
  for (const auto& [path, expected] : cases) {
    options.SetLogFilePath(path);
    EXPECT_EQ(options.LogFileName(), expected) << "LogFilePath " << path;
  }
  options.SetLogFilePath("");
  EXPECT_EQ(options.LogFileName("C:\\Program Files\\Host\\host.exe"), "C:\\Program Files\\Host\\host.elf");
  EXPECT_EQ(options.LogFileName("band"), "\\band.elf") << "no folder at all becomes the root";
  EXPECT_EQ(options.LogFileName("C:\\a.b\\band"), "C:\\a.b\\band.elf");
}

TEST(LogFileName, ComputerNameGoesBeforeTheExtensionMadeSafe) {
  EXPECT_EQ(ComposeLogFileName("D:\\bin\\band.dll", "", std::string("PC-7")), "D:\\bin\\band_PC-7.elf");
  EXPECT_EQ(ComposeLogFileName("D:\\bin\\band.dll", "C:\\Logs\\x.elf", std::string("A:B*C?\"<>|/\\\t")),
            "C:\\Logs\\x_A_B_C________.elf");
  EXPECT_EQ(ComposeLogFileName("D:\\bin\\band.dll", "C:\\Logs\\app.log", std::string("PC")),
            "C:\\Logs\\app.log\\band_PC.elf");

  TRuzadaModuleOptions options("D:\\bin\\band.dll", false);
  options.SetLogFlags(options.LogFlags().With(lfComputerNameInFileName));
  const std::string computer = LocalComputerName();
  EXPECT_LT(computer.size(), kComputerNameBufferSize);
  EXPECT_EQ(options.LogFileName(), "D:\\bin\\band_" + FileNameSafe(computer) + ".elf");
}

TEST(SharedBlockName, ProcessAndModuleAsEightUpperCaseHexDigits) {
  EXPECT_EQ(SharedBlockName(0xF2C, 0x1000abcd, "MODULE"), "00000F2C1000ABCDMODULE");
  EXPECT_EQ(SharedBlockName(0xFFFFFFFF, 0, "X"), "FFFFFFFF00000000X");
  if constexpr (sizeof(std::uintptr_t) == 8) {
    // Above 4 GB the whole base counts, or two modules could share a block.
    EXPECT_EQ(SharedBlockName(0xF2C, 0x18000abcdull, "MODULE"), "00000F2C000000018000ABCDMODULE");
    EXPECT_NE(SharedBlockName(1, 0x18000abcdull, "M"), SharedBlockName(1, 0x28000abcdull, "M"));
  }
}

}  // namespace
}  // namespace vellum::exceptlog
