#include <gtest/gtest.h>

#include <array>
#include <new>
#include <stdexcept>

#include "exceptlog/capture/manager/delivery_warning.h"
#include "exceptlog/capture/manager/internal_error_report.h"
#include "exceptlog/capture/manager/pipeline_rules.h"
#include "runtime/exception.h"

namespace vellum::exceptlog {
namespace {

template <typename E>
std::exception_ptr Thrown(E error) {
  return std::make_exception_ptr(std::move(error));
}

TEST(Filters, FirstEntryNamingTheClassOrAnAncestorWins) {
  const auto chain = ExceptionClassChain(Thrown(EDivByZero("Division by zero")));
  ASSERT_EQ(chain, (std::vector<std::string>{"EDivByZero", "EIntError", "EExternal", "Exception"}));
  EXPECT_EQ(FindFilter(chain, {"EAccessViolation", "  eintERROR ", "EDivByZero"}), 1) << "trimmed, any case";
  EXPECT_EQ(FindFilter(chain, {"EConvertError", "EAccessViolation"}), -1);
  EXPECT_EQ(FindFilter(chain, {"", "   ", "Exception"}), 2) << "blank entries name nothing";
  EXPECT_EQ(FindFilter(chain, {}), -1);
  EXPECT_EQ(FindFilter(chain, {"EDivByZer"}), -1) << "names compare whole";
}

TEST(Filters, ForeignExceptionsHaveTheBestNameThereIs) {
  EXPECT_EQ(ExceptionClassChain(Thrown(std::bad_alloc())).front(), "EOutOfMemory");
  EXPECT_EQ(ExceptionClassChain(Thrown(std::runtime_error("x"))), (std::vector<std::string>{"Exception"}));
  EXPECT_EQ(ExceptionClassChain(Thrown(42)), (std::vector<std::string>{"Exception"}));
  EXPECT_TRUE(ExceptionClassChain(nullptr).empty());
  EXPECT_EQ(ExceptionMessage(Thrown(std::runtime_error("disk full"))), "disk full");
  EXPECT_EQ(ExceptionMessage(Thrown(42)), "Unknown exception");
}

TEST(Bursts, TenWithinTheMinuteIsABurstNineOrSlowerIsNot) {
  BurstList list;
  for (int i = 0; i < 9; ++i) list.Append(100.0 + i * 0.05, 10);
  EXPECT_FALSE(list.IsBurst(10, 1)) << "nine reports";
  list.Append(100.9, 10);
  EXPECT_TRUE(list.IsBurst(10, 1));
  // The list keeps the newest ten: one more an hour later spans 60 minutes.
  list.Append(160.0, 10);
  EXPECT_EQ(list.Size(), 10u);
  EXPECT_FALSE(list.IsBurst(10, 1));
  EXPECT_FALSE(BurstList().IsBurst(0, 1)) << "a zero count never bursts";
}

TEST(WaitingMainThread, DropsInputAndQuitKeepsEverythingElse) {
  EXPECT_EQ(ClassifyWaitingMessage(0x0012), WaitingMessage::kDropSilently);  // WM_QUIT
  for (std::uint32_t message : {0x00A1u, 0x00A9u, 0x0100u, 0x0102u, 0x0104u, 0x0106u, 0x0201u, 0x0209u}) {
    EXPECT_EQ(ClassifyWaitingMessage(message), WaitingMessage::kDropWithBeep) << std::hex << message;
  }
  // Painting, timers, WM_KEYUP's neighbour 0x0103 (dead char) and mouse moves go on.
  for (std::uint32_t message : {0x000Fu, 0x0113u, 0x0103u, 0x0200u, 0x020Au, 0x00A0u, 0x0400u}) {
    EXPECT_EQ(ClassifyWaitingMessage(message), WaitingMessage::kDispatch) << std::hex << message;
  }
}

TEST(Sending, NeedsAMethodAFreshReportAndTheUsersConsent) {
  EXPECT_TRUE(SendingWillHappen({.send_possible = true}));
  EXPECT_FALSE(SendingWillHappen({.send_possible = false}));
  EXPECT_FALSE(SendingWillHappen({.send_possible = true, .duplicate = true}));
  EXPECT_FALSE(SendingWillHappen({.send_possible = true, .dialog_shown = true, .user_kept_send_choice = false}));
  EXPECT_TRUE(SendingWillHappen({.send_possible = true, .dialog_shown = false, .user_kept_send_choice = false}))
      << "without the dialog there is no choice to clear";
}

TEST(InternalErrors, LogFileHasTheFixedLayout) {
  InternalErrorFacts facts;
  facts.date = FormatInternalErrorDate({2026, 12, 7, 9, 5, 3}, 60);
  facts.os = "Windows 7 (Build 7601)";
  facts.compiler = "GCC 12";
  const std::array<std::uint8_t, 3> bytes{0x8B, 0x00, 0xFF};
  facts.dump = FormatDump(bytes);
  facts.section = "704";
  facts.address = 0x6B4012AB;
  facts.message = "Access violation";
  EXPECT_EQ(FormatInternalErrorFile(facts),
            "Version: 5.0.4\r\nDate   : Mon, 7 Dec 2026 09:05:03 +0100\r\nOS     : Windows 7 (Build 7601)\r\n"
            "RAD    : GCC 12\r\nDump   : $8B $00 $FF \r\nSection: 704\r\nAddress: $6B4012AB\r\n"
            "Message: Access violation");
}

TEST(InternalErrors, DatesCarryWeekdayAndZone) {
  EXPECT_EQ(FormatInternalErrorDate({2000, 2, 29, 23, 59, 59}, -300), "Tue, 29 Feb 2000 23:59:59 -0500");
  EXPECT_EQ(FormatInternalErrorDate({2024, 1, 1, 0, 0, 0}, 0), "Mon, 1 Jan 2024 00:00:00 +0000");
  // Half-hour zones keep their whole hours: the format has no minutes.
  EXPECT_EQ(FormatInternalErrorDate({2023, 7, 16, 12, 0, 0}, 330), "Sun, 16 Jul 2023 12:00:00 +0500");
}

TEST(InternalErrors, FileNameAndQuestion) {
  EXPECT_EQ(InternalErrorFileName("C:\\Windows\\explorer.exe"), "C:\\Windows\\explorer.log");
  EXPECT_EQ(InternalErrorFileName("C:\\a.b\\program"), "C:\\a.b\\program.log");
  EXPECT_EQ(FormatInternalErrorQuestion("boom"),
            "Error: 'boom'\r\n\r\nThis is an internal DeveruVuz bug.\r\nDo you want to send the bug information to "
            "DeveruVuz author?");
}

TEST(DeliveryWarnings, MessageLineAndWhenTheyAreShown) {
  EXPECT_EQ(FormatDeliveryWarningMessage("SMTP", Thrown(Exception("Connection refused"))), "[SMTP] Connection refused");
  EXPECT_EQ(FormatDeliveryWarningMessage("GUI", Thrown(42)), "General 'GUI' error.");
  EXPECT_EQ(FormatDeliveryWarningMessage("Console", nullptr), "General 'Console' error.");
  EXPECT_EQ(FormatDeliveryWarningLine(eeEmailSMTPError, 0x1A2B, "[SMTP] x"),
            "[WARNING] - Code: eeEmailSMTPError - Address: 00001A2B - Message: \"[SMTP] x\"");
  for (auto code : {eeEmailSMTPError, eeWebHTTPError, eeWebHTTPSError, eeWebFTPError}) {
    EXPECT_TRUE(DeliveryWarningIsShown(code, true));
    EXPECT_FALSE(DeliveryWarningIsShown(code, false));
  }
  for (auto code : {eeNone, eeShowError, eeLogError, eeEmailMAPIError, eeEmailShellError}) {
    EXPECT_FALSE(DeliveryWarningIsShown(code, true));
  }
}

}  // namespace
}  // namespace vellum::exceptlog
