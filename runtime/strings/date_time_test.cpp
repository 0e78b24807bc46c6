#include "runtime/strings/date_time.h"

#include <gtest/gtest.h>

namespace vellum {
namespace {

TEST(DateTime, SerialFormRoundTripsAndMatchesKnownDays) {
  EXPECT_EQ(DateTimeToSerial(DateTime{1899, 12, 30}), 0.0);
  EXPECT_EQ(DateTimeToSerial(DateTime{2000, 1, 1}), 36526.0);
  EXPECT_DOUBLE_EQ(DateTimeToSerial(DateTime{2000, 1, 1, 18}), 36526.75);
  EXPECT_DOUBLE_EQ(DateTimeToSerial(DateTime{1899, 12, 29, 6}), -1.25) << "the fraction counts forward";
  EXPECT_EQ(SerialToDateTime(-1.25), (DateTime{1899, 12, 29, 6}));

  for (const DateTime& value : {DateTime{2024, 2, 29, 23, 59, 59, 999}, DateTime{1, 1, 1}, DateTime{9999, 12, 31, 12},
                                DateTime{1900, 3, 1, 0, 0, 0, 1}, DateTime{1601, 1, 1, 7, 8, 9, 10}}) {
    EXPECT_EQ(SerialToDateTime(DateTimeToSerial(value)), value) << FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", value);
  }
  EXPECT_EQ(SerialToDateTime(36526.99999999999), (DateTime{2000, 1, 2})) << "rounding to midnight moves the day";
}

TEST(DateTime, CalendarArithmetic) {
  EXPECT_EQ(IncDay(DateTime{2024, 2, 28, 13, 5}), (DateTime{2024, 2, 29, 13, 5}));
  EXPECT_EQ(IncDay(DateTime{2023, 12, 31}), (DateTime{2024, 1, 1}));
  EXPECT_EQ(IncDay(DateTime{2100, 3, 1}, -1), (DateTime{2100, 2, 28})) << "2100 is no leap year";
  EXPECT_EQ(DayOfWeek(DateTime{2024, 1, 31}), 4) << "a Wednesday";
  EXPECT_EQ(DayOfWeek(DateTime{1899, 12, 30}), 7) << "a Saturday";
  EXPECT_TRUE(IsValidDateTime(DateTime{2000, 2, 29, 23, 59, 59, 999}));
  EXPECT_FALSE(IsValidDateTime(DateTime{1900, 2, 29}));
  EXPECT_FALSE(IsValidDateTime(DateTime{2000, 13, 1}));
  EXPECT_FALSE(IsValidDateTime(DateTime{2000, 1, 1, 24}));
}

TEST(DateTime, FormatPatterns) {
  const DateTime value{2024, 1, 31, 14, 25, 1, 7};
  EXPECT_EQ(FormatDateTime("yyyymmdd", value), "20240131");
  EXPECT_EQ(FormatDateTime("yyyymmddhhnnss", value), "20240131142501");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", value), "2024-01-31 14:25:01.007");
  EXPECT_EQ(FormatDateTime("hh:mm", value), "14:25") << "mm after an hour means minutes";
  EXPECT_EQ(FormatDateTime("d/m/yy h:n:s z", DateTime{2005, 3, 4, 5, 6, 7, 8}), "4/3/05 5:6:7 8");
  EXPECT_EQ(FormatDateTime("ddd, dd mmm yyyy", value), "Wed, 31 Jan 2024");
  EXPECT_EQ(FormatDateTime("dddd mmmm", value), "Wednesday January");
  EXPECT_EQ(FormatDateTime("'day' dd \"of\" mm", value), "day 31 of 01") << "quoted text is literal";
  EXPECT_EQ(FormatDateTime("YYYY-MM-DD", value), "2024-01-31");
}

TEST(DateTime, NowIsAPlausibleLocalTime) {
  const DateTime now = Now();
  EXPECT_TRUE(IsValidDateTime(now));
  EXPECT_GE(now.year, 2020);
}

}  // namespace
}  // namespace vellum
