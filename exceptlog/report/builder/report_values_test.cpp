#include "exceptlog/report/builder/report_values.h"

#include <gtest/gtest.h>

#include <string>

namespace vellum::exceptlog {
namespace {

TEST(ReportValues, ZoneTextsRoundHalvesToTheEvenHour) {
  EXPECT_EQ(ZoneText(60), "+0100");
  EXPECT_EQ(ZoneText(-300), "-0500");
  EXPECT_EQ(ZoneText(0), "+0000");
  EXPECT_EQ(ZoneText(600), "+1000");
  EXPECT_EQ(ZoneText(330), "+0600");
  EXPECT_EQ(ZoneText(270), "+0400");
  EXPECT_EQ(ZoneText(-30), "+0000");
  EXPECT_EQ(ZoneText(-720), "-1200");
}

TEST(ReportValues, DatesUseEnglishNamesAndTheZone) {
  // 7 December 2026 is a Monday.
  EXPECT_EQ(ReportDateText({2026, 12, 7, 9, 5, 3}, 60), "Mon, 7 Dec 2026 09:05:03 +0100");
  EXPECT_EQ(ReportDateText({2027, 1, 31, 23, 59, 59}, -300), "Sun, 31 Jan 2027 23:59:59 -0500");
  // A compilation date is recorded in UTC and shown in local time, shifted
  // by the whole-hour zone it is written with.
  const double utc = DateTimeToSerial({2026, 12, 7, 23, 30, 0});
  EXPECT_EQ(UtcSerialDateText(utc, 60), "Tue, 8 Dec 2026 00:30:00 +0100");
  EXPECT_EQ(UtcSerialDateText(utc, 330), "Tue, 8 Dec 2026 05:30:00 +0600");
  EXPECT_EQ(UtcSerialDateText(0, 60), "");
}

TEST(ReportValues, UpTimeNamesOnlyTheUnitsItNeeds) {
  EXPECT_EQ(UpTimeText(90'000), "1 minute, 30 seconds");
  EXPECT_EQ(UpTimeText((25 * 3600 + 1) * 1000ULL + 999), "1 day, 1 hour, 0 minute, 1 second");
  EXPECT_EQ(UpTimeText(0), "0 minute, 0 second");
  EXPECT_EQ(UpTimeText(((2 * 24 + 2) * 3600 + 2 * 60 + 2) * 1000ULL), "2 days, 2 hours, 2 minutes, 2 seconds");
  // Past the 49.7 days a 32-bit tick count can hold.
  EXPECT_EQ(UpTimeText(60ULL * 86400 * 1000), "60 days, 0 minute, 0 second");
}

TEST(ReportValues, Sizes) {
  EXPECT_EQ(MegabytesText(2147483648ULL), "2048 Mb");
  EXPECT_EQ(MegabytesText(1572864), "2 Mb");  // 1.5
  EXPECT_EQ(MegabytesText(2621440), "2 Mb");  // 2.5
  EXPECT_EQ(MegabytesText(1048575), "1 Mb");
  EXPECT_EQ(GigabytesText(0), "0 Gb");
  EXPECT_EQ(GigabytesText(1610612736ULL), "1.5 Gb");
  EXPECT_EQ(GigabytesText(10737418240ULL + 4000000), "10 Gb");
  EXPECT_EQ(GigabytesText(123456789012ULL), "114.98 Gb");
  EXPECT_EQ(GigabytesText(std::nullopt), "");
}

TEST(ReportValues, NetworkFieldsPadAddressesAndJoinAdapters) {
  EXPECT_EQ(PaddedAddress("10.0.2.15"), "010.000.002.015");
  EXPECT_EQ(PaddedAddress("192.168.100.1"), "192.168.100.001");
  EXPECT_EQ(PaddedAddress(""), "000.000.000.000");

  NetworkAdapter first{true, "10.0.2.15", "255.255.255.0", "10.0.2.2", {"10.0.2.3"}};
  NetworkAdapter second{false, "", "", "", {"8.8.8.8", "1.1.1.1", "9.9.9.9"}};
  const NetworkTexts texts = NetworkFieldTexts({first, second});
  EXPECT_EQ(texts.ip_address, "010.000.002.015 - 000.000.000.000");
  EXPECT_EQ(texts.mask, "255.255.255.000 - 000.000.000.000");
  EXPECT_EQ(texts.gateway, "010.000.002.002 - 000.000.000.000");
  EXPECT_EQ(texts.dns1, "010.000.002.003 - 008.008.008.008");
  EXPECT_EQ(texts.dns2, "000.000.000.000 - 001.001.001.001");
  // The last adapter's padding loses the space that the separator cut takes.
  EXPECT_EQ(texts.dhcp, "ON" + std::string(14, ' ') + "- OFF" + std::string(12, ' '));

  const NetworkTexts none = NetworkFieldTexts({});
  EXPECT_EQ(none.ip_address + none.mask + none.gateway + none.dns1 + none.dns2 + none.dhcp, "");
}

TEST(ReportValues, SystemNameAndBuild) {
  EXPECT_EQ(OperatingSystemName({true, 5, 1, 2600, "Service Pack 3"}), "Microsoft Windows XP");
  EXPECT_EQ(OperatingSystemName({true, 5, 0, 2195, ""}), "Microsoft Windows 2000");
  EXPECT_EQ(OperatingSystemName({true, 4, 0, 1381, ""}), "Microsoft Windows NT 4.0");
  EXPECT_EQ(OperatingSystemName({true, 6, 1, 7601, ""}), "Microsoft Windows ");
  EXPECT_EQ(OperatingSystemName({false, 4, 10, 0, " A "}), "Microsoft Windows 98 SE");
  EXPECT_EQ(OperatingSystemName({false, 4, 10, 0, ""}), "Microsoft Windows 98");
  EXPECT_EQ(OperatingSystemName({false, 4, 0, 0, "B"}), "Microsoft Windows 95 OSR 2");
  EXPECT_EQ(OperatingSystemName({false, 4, 90, 0, ""}), "Microsoft Windows ME");
  EXPECT_EQ(OperatingSystemBuild({false, 4, 10, 0x040A08AE, ""}), "2222");
  EXPECT_EQ(OperatingSystemBuild({true, 10, 0, 19045, ""}), "19045");
}

TEST(ReportValues, ProcessorFallsBackToVendorThenUnknown) {
  EXPECT_EQ(ProcessorText("  Intel(R) Core(TM) i5  ", "GenuineIntel", "x86"), "Intel(R) Core(TM) i5");
  EXPECT_EQ(ProcessorText(" ", " GenuineIntel ", " x86 Family 6 "), "GenuineIntel - x86 Family 6");
  EXPECT_EQ(ProcessorText("", "GenuineIntel", ""), "GenuineIntel");
  EXPECT_EQ(ProcessorText("", "", "x86"), "Unknown processor");
}

TEST(ReportValues, MessagesAndWindowTexts) {
  EXPECT_EQ(MessageFieldText("Access violation"), "Access violation.");
  EXPECT_EQ(MessageFieldText("Done."), "Done.");
  EXPECT_EQ(MessageFieldText(""), "");
  EXPECT_EQ(CompactMessageText("a\tb\r\nc\x01."), "a b\r\nc .");
  EXPECT_EQ(WindowFieldText("x\ty"), "x y");
  EXPECT_EQ(WindowFieldText(std::string(300, 'w')), std::string(255, 'w'));
}

}  // namespace
}  // namespace vellum::exceptlog
