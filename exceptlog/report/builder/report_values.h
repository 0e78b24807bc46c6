// The rules that turn system facts into report field texts: dates with
// their zone, up time, sizes, network addresses, the system's name and the
// exception's message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/strings/date_time.h"

namespace vellum::exceptlog {

// Local time minus UTC in whole hours, halves to the even hour.
int ZoneHours(int offset_minutes);
// "+0100", "-0500", "+0000".
std::string ZoneText(int offset_minutes);
// "Mon, 7 Dec 2026 13:50:06 +0100".
std::string ReportDateText(const DateTime& local, int offset_minutes);
// A UTC serial date shifted by the whole-hour zone, in the same form; empty
// for 0 (no compilation date recorded).
std::string UtcSerialDateText(double utc_serial, int offset_minutes);

// "1 day, 1 hour, 0 minute, 1 second".
std::string UpTimeText(std::uint64_t milliseconds);

// "2048 Mb": bytes in MiB, halves to even.
std::string MegabytesText(std::uint64_t bytes);
// "12.5 Gb": bytes in GiB with at most two decimals; empty without a size.
std::string GigabytesText(std::optional<std::uint64_t> bytes);

// "010.000.002.015"; "000.000.000.000" for an empty address.
std::string PaddedAddress(std::string_view dotted);

// One network adapter as the report lists it.
struct NetworkAdapter {
  bool dhcp = false;
  std::string ip_address;  // first address and its mask
  std::string mask;
  std::string gateway;           // first gateway
  std::vector<std::string> dns;  // in order
};

// The six network fields (IP address, mask, gateway, DNS 1, DNS 2, DHCP).
struct NetworkTexts {
  std::string ip_address, mask, gateway, dns1, dns2, dhcp;
};
NetworkTexts NetworkFieldTexts(const std::vector<NetworkAdapter>& adapters);

// What the operating system reports about its own version.
struct SystemVersion {
  bool nt_platform = true;
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::string service_pack;
};
std::string OperatingSystemName(const SystemVersion& version);
std::string OperatingSystemBuild(const SystemVersion& version);

// The registry's processor texts, trimmed, with both fall-backs.
std::string ProcessorText(std::string_view name, std::string_view vendor, std::string_view identifier);

// A field value that ends in a full stop (an empty one stays empty).
std::string MessageFieldText(std::string_view message);
// The message the compact dialog shows: control characters other than line
// breaks become spaces.
std::string CompactMessageText(std::string_view message_field);
// A window text as the active-controls fields show it: at most 255
// characters, control characters as spaces.
std::string WindowFieldText(std::string_view text);

// The file name of a path without its folder (or drive); the part of
// `path` itself, or a copy.
std::string_view FileNamePartOf(std::string_view path);
std::string FileNameOf(const std::string& path);

}  // namespace vellum::exceptlog
