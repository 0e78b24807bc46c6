#include "band/doctor/doctor_command.h"

#include <gtest/gtest.h>

namespace vellum::band {
namespace {

TEST(DoctorCommand, OptionsInAnyOrderCaseAndPrefix) {
  DoctorCommand command = ParseDoctorCommand("");
  EXPECT_EQ(command.out_path, "");
  EXPECT_EQ(command.fix, DoctorAction::kNone);
  EXPECT_EQ(command.usage_error, "");

  command = ParseDoctorCommand("  /FIX Cache   -out \"C:\\Support Files\\doctor.txt\"\r\n");
  EXPECT_EQ(command.fix, DoctorAction::kClearCategoryCache);
  EXPECT_EQ(command.out_path, "C:\\Support Files\\doctor.txt");
  EXPECT_EQ(command.usage_error, "");

  EXPECT_EQ(ParseDoctorCommand("/fix register").fix, DoctorAction::kRegister);
  EXPECT_EQ(ParseDoctorCommand("/fix panel").fix, DoctorAction::kStartPanel);
  // A quote may open in the middle of a word, as Windows command lines allow.
  EXPECT_EQ(ParseDoctorCommand("/out C:\\\"Support Files\"\\d.txt").out_path, "C:\\Support Files\\d.txt");
}

TEST(DoctorCommand, AMistakeIsNamedAndTheOutputFileStillFound) {
  // Whatever else is wrong, "/out" is kept: the mistake goes to the file,
  // and a script never waits on a message box.
  DoctorCommand command = ParseDoctorCommand("/fix everything /out report.txt");
  EXPECT_EQ(command.out_path, "report.txt");
  EXPECT_EQ(command.fix, DoctorAction::kNone);
  EXPECT_EQ(command.usage_error, "Unknown fix \"everything\": use register, cache or panel.");

  command = ParseDoctorCommand("/verbose /out report.txt /fix");
  EXPECT_EQ(command.out_path, "report.txt");
  EXPECT_NE(command.usage_error.find("Unknown option \"/verbose\""), std::string::npos) << "the first mistake";

  EXPECT_EQ(ParseDoctorCommand("/out").usage_error, "/out needs a value.");
  EXPECT_EQ(ParseDoctorCommand("/out \"\"").usage_error, "/out needs a value.");
}

TEST(DoctorCommand, TheMessageNamesTheFixCommandOnlyWhereTheDoctorHasOne) {
  const std::string rundll = "C:\\Windows\\SysWOW64\\rundll32.exe";
  EXPECT_EQ(DoctorMessage({}, rundll, "C:\\V\\VellumDeskBand.dll"), FormatFindings({}));
  const std::string text = DoctorMessage(
      {{"Not registered.", "Register it.", DoctorAction::kRegister}, {"Policy.", "Ask.", DoctorAction::kNone}}, rundll,
      "C:\\V\\VellumDeskBand.dll");
  EXPECT_EQ(text,
            "Not registered.\r\nRegister it.\r\n"
            "The doctor does this when you run: \"C:\\Windows\\SysWOW64\\rundll32.exe\" "
            "\"C:\\V\\VellumDeskBand.dll\",Doctor /fix register\r\n"
            "\r\nPolicy.\r\nAsk.\r\n");
}

}  // namespace
}  // namespace vellum::band
