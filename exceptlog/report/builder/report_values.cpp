#include "exceptlog/report/builder/report_values.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "runtime/strings/format.h"
#include "runtime/strings/string_utils.h"

namespace vellum::exceptlog {

namespace {

constexpr std::array<const char*, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kNoAddress = "000.000.000.000";

std::string Unit(std::uint64_t count, const char* word) {
  return std::to_string(count) + " " + word + (count > 1 ? "s" : "");
}

// Appends "text - " so that the last separator can be cut at the end.
void AppendPart(std::string& field, const std::string& text) {
  field += text;
  field += " - ";
}

void CutLastSeparator(std::string& field) {
  if (EndsText(" - ", field)) field.resize(field.size() - 3);
}

}  // namespace

int ZoneHours(int offset_minutes) {
  return static_cast<int>(std::nearbyint(offset_minutes / 60.0));
}

std::string ZoneText(int offset_minutes) {
  const int hours = ZoneHours(offset_minutes);
  return Format("%s%.2d00", hours < 0 ? "-" : "+", hours < 0 ? -hours : hours);
}

std::string ReportDateText(const DateTime& local, int offset_minutes) {
  const int month = local.month >= 1 && local.month <= 12 ? local.month : 1;
  return Format("%s, %d %s %d %0.2d:%0.2d:%0.2d %s", kDayNames[static_cast<std::size_t>(DayOfWeek(local) - 1)],
                local.day, kMonthNames[static_cast<std::size_t>(month - 1)], local.year, local.hour, local.minute,
                local.second, ZoneText(offset_minutes));
}

std::string UtcSerialDateText(double utc_serial, int offset_minutes) {
  if (utc_serial == 0) return {};
  const double local = utc_serial + ZoneHours(offset_minutes) / 24.0;
  return ReportDateText(SerialToDateTime(local), offset_minutes);
}

std::string UpTimeText(std::uint64_t milliseconds) {
  std::uint64_t seconds = milliseconds / 1000;
  const std::uint64_t days = seconds / 86400;
  seconds %= 86400;
  const std::uint64_t hours = seconds / 3600;
  seconds %= 3600;
  const std::uint64_t minutes = seconds / 60;
  seconds %= 60;
  std::string text;
  if (days > 0) text += Unit(days, "day") + ", ";
  if (hours > 0) text += Unit(hours, "hour") + ", ";
  return text + Unit(minutes, "minute") + ", " + Unit(seconds, "second");
}

std::string MegabytesText(std::uint64_t bytes) {
  return Format("%.0f Mb", std::nearbyint(static_cast<double>(bytes) / 1048576.0));
}

std::string GigabytesText(std::optional<std::uint64_t> bytes) {
  if (!bytes) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", static_cast<double>(*bytes) / 1073741824.0);
  std::string number = text;
  while (number.back() == '0') number.pop_back();
  if (number.back() == '.') number.pop_back();
  return number + " Gb";
}

std::string PaddedAddress(std::string_view dotted) {
  const std::string trimmed = Trim(dotted);
  if (trimmed.empty()) return kNoAddress;
  std::string padded;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = trimmed.find('.', start);
    const std::string part = trimmed.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (part.size() < 3) padded.append(3 - part.size(), '0');
    padded += part;
    if (dot == std::string::npos) break;
    padded += '.';
    start = dot + 1;
  }
  return padded;
}

NetworkTexts NetworkFieldTexts(const std::vector<NetworkAdapter>& adapters) {
  NetworkTexts texts;
  for (const NetworkAdapter& adapter : adapters) {
    std::string state = adapter.dhcp ? "ON" : "OFF";
    state.resize(16, ' ');
    texts.dhcp += state + "- ";
    AppendPart(texts.ip_address, PaddedAddress(adapter.ip_address));
    AppendPart(texts.mask, PaddedAddress(adapter.mask));
    AppendPart(texts.gateway, PaddedAddress(adapter.gateway));
    AppendPart(texts.dns1, PaddedAddress(adapter.dns.empty() ? std::string() : adapter.dns[0]));
    AppendPart(texts.dns2, PaddedAddress(adapter.dns.size() < 2 ? std::string() : adapter.dns[1]));
  }
  for (std::string* field : {&texts.ip_address, &texts.mask, &texts.gateway, &texts.dns1, &texts.dns2, &texts.dhcp}) {
    CutLastSeparator(*field);
  }
  return texts;
}

std::string OperatingSystemName(const SystemVersion& version) {
  std::string name = "Microsoft Windows ";
  const std::string service_pack = Trim(version.service_pack);
  if (!version.nt_platform) {
    if (version.minor < 10) {
      name += service_pack == "B" ? "95 OSR 2" : "95";
    } else if (version.minor < 90) {
      name += service_pack == "A" ? "98 SE" : "98";
    } else if (version.minor == 90) {
      name += "ME";
    }
  } else if (version.major == 4) {
    name += "NT 4.0";
  } else if (version.major == 5 && version.minor <= 2) {
    constexpr std::array<const char*, 3> kFive = {"2000", "XP", "2003"};
    name += kFive[version.minor];
  }
  return name;
}

std::string OperatingSystemBuild(const SystemVersion& version) {
  return std::to_string(version.nt_platform ? version.build : version.build & 0xFFFF);
}

std::string ProcessorText(std::string_view name, std::string_view vendor, std::string_view identifier) {
  std::string text = Trim(name);
  if (text.empty()) {
    text = Trim(vendor);
    const std::string id = Trim(identifier);
    if (!text.empty() && !id.empty()) text += " - " + id;
  }
  return text.empty() ? "Unknown processor" : text;
}

std::string MessageFieldText(std::string_view message) {
  std::string text(message);
  if (!text.empty() && text.back() != '.') text += '.';
  return text;
}

std::string CompactMessageText(std::string_view message_field) {
  std::string text(message_field);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 32 && c != '\r' && c != '\n') c = ' ';
  }
  return text;
}

std::string WindowFieldText(std::string_view text) {
  std::string shown(text.substr(0, 255));
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  }
  return shown;
}

std::string_view FileNamePartOf(std::string_view path) {
  const std::size_t slash = path.find_last_of("\\/:");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string FileNameOf(const std::string& path) {
  return std::string(FileNamePartOf(path));
}

}  // namespace vellum::exceptlog
