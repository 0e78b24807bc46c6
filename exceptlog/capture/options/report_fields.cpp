#include "exceptlog/capture/options/report_fields.h"

#include "exceptlog/capture/options/customized_texts.h"
#include "runtime/exception.h"

namespace vellum::exceptlog {

bool TReportFields::Contains(int bit) const {
  if (bit < 0 || bit >= kBitCount) return false;
  return (bytes_[bit / 8] >> (bit % 8) & 1) != 0;
}

TReportFields TReportFields::With(int bit, bool on) const {
  if (bit < 0 || bit >= kBitCount) throw EListError("Report field bit out of range (" + std::to_string(bit) + ")");
  TReportFields result = *this;
  const auto mask = static_cast<std::uint8_t>(1u << (bit % 8));
  if (on) {
    result.bytes_[bit / 8] |= mask;
  } else {
    result.bytes_[bit / 8] &= static_cast<std::uint8_t>(~mask);
  }
  return result;
}

TReportFields RenumberOldReportFields(const TReportFields& old_bits) {
  // Old fields 4, 20..22 and 27..31 were dropped; the new bits 23..30 take
  // old bits 32..39, which an old block never carried, so they keep what the
  // fifth byte held before the load.
  static constexpr int kOldBitOfNewBit[] = {0,  1,  2,  3,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                                            17, 18, 19, 23, 24, 25, 26, 32, 33, 34, 35, 36, 37, 38, 39};
  TReportFields result;
  for (int new_bit = 0; new_bit < static_cast<int>(std::size(kOldBitOfNewBit)); ++new_bit) {
    result = result.With(new_bit, old_bits.Contains(kOldBitOfNewBit[new_bit]));
  }
  return result;
}

const std::array<std::string_view, TReportFields::kUsedBitCount> kReportFieldKeys = {
    "Application|Start Date",
    "Application|Name",
    "Application|Version Number",
    "Application|Parameters",
    "Application|Compilation Date",
    "Exception|Date",
    "Exception|Address",
    "Exception|Module",
    "Exception|Type",
    "Exception|Message",
    "Active Controls|Form Class",
    "Active Controls|Form Text",
    "Active Controls|Control Class",
    "Active Controls|Control Text",
    "Computer|Name",
    "Computer|User",
    "Computer|Total Memory",
    "Computer|Free Memory",
    "Computer|Total Disk",
    "Computer|Free Disk",
    "Computer|System Up Time",
    "Computer|Processor",
    "Computer|Display Mode",
    "Operating System|Type",
    "Operating System|Build #",
    "Operating System|Update",
    "Operating System|Language",
    "Network|IP Address",
    "Network|Submask",
    "Network|Gateway",
    "Network|DNS 1",
    "Network|DNS 2",
    "Network|DHCP",
};

int ReportFieldTextIndex(int bit) {
  // Each report section starts with a header text that no bit switches, so
  // the captions run one text further per section passed.
  static constexpr int kSectionFirstBit[] = {0, 5, 10, 14, 23, 27, 33};
  static constexpr int kSectionFirstText[] = {kTextLogStartDate,    kTextLogExceptionDate,       kTextLogFormClass,
                                              kTextLogComputerName, kTextLogOperatingSystemType, kTextLogIpAddress};
  if (bit < 0 || bit >= TReportFields::kUsedBitCount) {
    throw EListError("Report field bit out of range (" + std::to_string(bit) + ")");
  }
  int section = 0;
  while (bit >= kSectionFirstBit[section + 1]) ++section;
  return kSectionFirstText[section] + (bit - kSectionFirstBit[section]);
}

}  // namespace vellum::exceptlog
