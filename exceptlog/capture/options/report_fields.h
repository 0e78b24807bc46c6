// Which fields a report shows: 40 bits kept in 5 bytes, of which the first 33
// switch one general-section field each; the rest are stored and ignored.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vellum::exceptlog {

class TReportFields {
 public:
  static constexpr int kBitCount = 40;
  static constexpr int kUsedBitCount = 33;
  using Bytes = std::array<std::uint8_t, 5>;

  constexpr TReportFields() = default;
  constexpr explicit TReportFields(Bytes bytes) : bytes_(bytes) {}
  static constexpr TReportFields All() { return TReportFields(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}); }

  // Bits outside 0..39 are never set.
  bool Contains(int bit) const;
  [[nodiscard]] TReportFields With(int bit, bool on = true) const;
  const Bytes& ToBytes() const { return bytes_; }

  friend bool operator==(const TReportFields&, const TReportFields&) = default;

 private:
  Bytes bytes_{};
};

// Blocks older than 500 kept 32 bits in another order; `old_bits` holds their
// four bytes in front of the fifth byte the options had before the load.
TReportFields RenumberOldReportFields(const TReportFields& old_bits);

// "Section|Field" for every used bit, in bit order.
extern const std::array<std::string_view, TReportFields::kUsedBitCount> kReportFieldKeys;

// Index into `Texts` of the caption the field is written with.
int ReportFieldTextIndex(int bit);

}  // namespace vellum::exceptlog
