#include "runtime/strings/date_time.h"

#include <cmath>
#include <cstdint>

namespace vellum {

namespace {

constexpr std::int64_t kMillisecondsPerDay = 86'400'000;

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back; the
// era-based arithmetic is exact for every year the type can hold.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

void CivilFromDays(std::int64_t days, DateTime& value) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned mp = (5 * day_of_year + 2) / 153;
  const unsigned day = day_of_year - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  value.year = static_cast<int>(static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0));
  value.month = static_cast<int>(month);
  value.day = static_cast<int>(day);
}

const std::int64_t kEpochDays = DaysFromCivil(1899, 12, 30);

std::int64_t SerialDay(const DateTime& value) {
  return DaysFromCivil(value.year, static_cast<unsigned>(value.month), static_cast<unsigned>(value.day)) - kEpochDays;
}

std::string Padded(int number, std::size_t digits) {
  std::string text = std::to_string(number < 0 ? -number : number);
  if (text.size() < digits) text.insert(0, digits - text.size(), '0');
  return number < 0 ? "-" + text : text;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr const char* kShortMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kLongMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                       "July",    "August",   "September", "October", "November", "December"};
constexpr const char* kShortDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kLongDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

}  // namespace

bool IsValidDateTime(const DateTime& value) {
  return value.year >= 1 && value.year <= 9999 && value.month >= 1 && value.month <= 12 && value.day >= 1 &&
         value.day <= DaysInMonth(value.year, value.month) && value.hour >= 0 && value.hour < 24 && value.minute >= 0 &&
         value.minute < 60 && value.second >= 0 && value.second < 60 && value.millisecond >= 0 &&
         value.millisecond < 1000;
}

double DateTimeToSerial(const DateTime& value) {
  const auto day = static_cast<double>(SerialDay(value));
  const double time =
      static_cast<double>(((value.hour * 60 + value.minute) * 60 + value.second) * 1000 + value.millisecond) /
      static_cast<double>(kMillisecondsPerDay);
  return day >= 0 ? day + time : day - time;
}

DateTime SerialToDateTime(double serial) {
  if (!std::isfinite(serial)) serial = 0;
  auto day = static_cast<std::int64_t>(std::trunc(serial));
  auto milliseconds = std::llround(std::fabs(serial - static_cast<double>(day)) * kMillisecondsPerDay);
  if (milliseconds >= kMillisecondsPerDay) {  // rounding reached the next midnight
    milliseconds -= kMillisecondsPerDay;
    ++day;
  }
  DateTime value;
  CivilFromDays(day + kEpochDays, value);
  value.millisecond = static_cast<int>(milliseconds % 1000);
  value.second = static_cast<int>(milliseconds / 1000 % 60);
  value.minute = static_cast<int>(milliseconds / 60'000 % 60);
  value.hour = static_cast<int>(milliseconds / 3'600'000);
  return value;
}

DateTime IncDay(const DateTime& value, int days) {
  DateTime result = value;
  CivilFromDays(SerialDay(value) + days + kEpochDays, result);
  return result;
}

int DayOfWeek(const DateTime& value) {
  // 1970-01-01 was a Thursday (5 in Sunday-first numbering).
  const std::int64_t days =
      DaysFromCivil(value.year, static_cast<unsigned>(value.month), static_cast<unsigned>(value.day));
  return static_cast<int>(((days + 4) % 7 + 7) % 7) + 1;
}

std::string FormatDateTime(std::string_view pattern, const DateTime& value) {
  std::string out;
  bool after_hour = false;
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    const char letter = Lower(c);
    if (c == '\'' || c == '"') {
      const std::size_t close = pattern.find(c, i + 1);
      const std::size_t end = close == std::string_view::npos ? pattern.size() : close;
      out.append(pattern.substr(i + 1, end - i - 1));
      i = close == std::string_view::npos ? pattern.size() : close + 1;
      continue;
    }
    if (std::string_view("ymdhnsz").find(letter) == std::string_view::npos) {
      out += c;
      ++i;
      continue;
    }
    std::size_t count = 0;
    while (i + count < pattern.size() && Lower(pattern[i + count]) == letter) ++count;
    i += count;
    const bool month_ok = value.month >= 1 && value.month <= 12;
    switch (letter) {
      case 'y': out += count <= 2 ? Padded(value.year % 100, 2) : Padded(value.year, 4); break;
      case 'm':
        if (after_hour && count <= 2) {
          out += Padded(value.minute, count);
        } else if (count <= 2) {
          out += Padded(value.month, count);
        } else if (month_ok) {
          out += count == 3 ? kShortMonths[value.month - 1] : kLongMonths[value.month - 1];
        }
        break;
      case 'd':
        if (count <= 2) {
          out += Padded(value.day, count);
        } else if (month_ok) {
          out += count == 3 ? kShortDays[DayOfWeek(value) - 1] : kLongDays[DayOfWeek(value) - 1];
        }
        break;
      case 'h': out += Padded(value.hour, count >= 2 ? 2 : 1); break;
      case 'n': out += Padded(value.minute, count >= 2 ? 2 : 1); break;
      case 's': out += Padded(value.second, count >= 2 ? 2 : 1); break;
      case 'z': out += Padded(value.millisecond, count >= 3 ? 3 : 1); break;
    }
    after_hour = letter == 'h';
  }
  return out;
}

}  // namespace vellum
