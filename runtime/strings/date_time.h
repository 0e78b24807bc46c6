// A plain calendar date-time, its conversion to and from the 64-bit floating
// "serial" form that stored blocks and logs carry (days since 1899-12-30, the
// fraction being the time of day), and pattern formatting for report text.
#pragma once

#include <compare>
#include <string>
#include <string_view>

namespace vellum {

struct DateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  auto operator<=>(const DateTime&) const = default;
};

bool IsValidDateTime(const DateTime& value);

// Serial day numbers before the epoch are negative, but their fraction still
// counts forward from midnight: -1.25 is 1899-12-29 06:00.
double DateTimeToSerial(const DateTime& value);
DateTime SerialToDateTime(double serial);

// Moves the date by whole days, keeping the time of day.
DateTime IncDay(const DateTime& value, int days = 1);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(const DateTime& value);

// Pattern letters, case-insensitive: yyyy / yy, m / mm (month; minutes right
// after an hour), mmm / mmmm (English month name), d / dd, ddd / dddd
// (English day name), h / hh, n / nn, s / ss, z / zzz. Text in single or
// double quotes is copied without its quotes; every other character is
// copied as it is (":" and "/" are not localised).
std::string FormatDateTime(std::string_view pattern, const DateTime& value);

// The local date and time of this machine.
DateTime Now();

}  // namespace vellum
