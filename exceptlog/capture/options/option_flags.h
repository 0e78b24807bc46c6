// The flag sets of the module options. Each set is stored as its raw bits
// (one or two bytes), so the enumerators are bit numbers, not masks.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace vellum::exceptlog {

template <typename Flag, typename Bits>
class FlagSet {
 public:
  constexpr FlagSet() = default;
  constexpr explicit FlagSet(Bits bits) : bits_(bits) {}
  constexpr FlagSet(std::initializer_list<Flag> flags) {
    for (Flag flag : flags) bits_ = static_cast<Bits>(bits_ | Mask(flag));
  }

  constexpr bool Contains(Flag flag) const { return (bits_ & Mask(flag)) != 0; }
  constexpr Bits ToBits() const { return bits_; }

  // Copies with one flag set or cleared, for `SetXxxFlags(XxxFlags().With(...))`.
  [[nodiscard]] constexpr FlagSet With(Flag flag, bool on = true) const {
    return FlagSet(static_cast<Bits>(on ? (bits_ | Mask(flag)) : (bits_ & ~Mask(flag))));
  }
  [[nodiscard]] constexpr FlagSet Without(Flag flag) const { return With(flag, false); }

  friend constexpr bool operator==(FlagSet, FlagSet) = default;

 private:
  static constexpr Bits Mask(Flag flag) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(flag)); }
  Bits bits_ = 0;
};

// For code that stores or shows every flag set the same way: as its bits.
template <typename T>
inline constexpr bool kIsFlagSet = false;
template <typename Flag, typename Bits>
inline constexpr bool kIsFlagSet<FlagSet<Flag, Bits>> = true;

enum TLogFlag : unsigned {
  lfSkipDuplicates,
  lfAskReproduceSteps,
  lfResetOnNewVersion,
  lfComputerNameInFileName,
  lfModulesSection,
  lfCpuSection,
};
using TLogFlags = FlagSet<TLogFlag, std::uint8_t>;

enum TSendFlag : unsigned {
  sfProgressDialog,
  sfResultMessage,
  sfWholeLog,
  sfXmlCopy,
  sfScreenshot,
  sfActiveWindowOnly,
  sfLastHtmlPage,
  sfBackgroundThread,
  sfTimeStampNames,
  sfCompressAttachments,
};
using TSendFlags = FlagSet<TSendFlag, std::uint16_t>;

enum TDialogFlag : unsigned {
  dfShowDialog,
  dfSendChecked,
  dfScreenshotChecked,
  dfCopyOption,
  dfDetailsButton,
  dfDetailsOpen,
  dfTopMost,
  dfOwnStyle,
};
using TDialogFlags = FlagSet<TDialogFlag, std::uint8_t>;

enum TStackFlag : unsigned {
  skLibraryFrames,
  skPackageFrames,
  skRuntimeThreads,
  skOtherThreads,
  skProcedureLines,
};
using TStackFlags = FlagSet<TStackFlag, std::uint8_t>;

enum TBehaviorFlag : unsigned {
  bfBurstCheck,
  bfSuspendRuntimeThreads,
  bfKeepMainThreadRunning,
  bfSuspendOtherThreads,
  bfUseMainModuleInfo,
  bfClipboardCopyOnSendFailure,
  bfKeepUnsentFiles,
};
using TBehaviorFlags = FlagSet<TBehaviorFlag, std::uint8_t>;

}  // namespace vellum::exceptlog
