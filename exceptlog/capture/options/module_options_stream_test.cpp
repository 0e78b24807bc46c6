#include <gtest/gtest.h>

#include <set>

#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/capture/options/module_options_test_support.h"
#include "exceptlog/capture/options/options_codec.h"

namespace vellum::exceptlog {
namespace {

using testing::ChangeEveryOption;
using testing::CountingOptions;

// A stored block put together by hand, byte by byte, as an older build wrote it.
struct Image {
  std::vector<std::uint8_t> bytes;

  Image& Byte(std::uint8_t value) {
    bytes.push_back(value);
    return *this;
  }
  Image& Word(std::uint16_t value) { return Byte(value & 0xFF).Byte(value >> 8); }
  Image& Int(std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) Byte(static_cast<std::uint8_t>(bits >> shift));
    return *this;
  }
  Image& Str(std::string_view text) {
    Int(static_cast<std::int32_t>(text.size()));
    for (char c : text) Byte(static_cast<std::uint8_t>(c) ^ kOptionsScramblingKey);
    return *this;
  }
  Image& Raw(std::initializer_list<std::uint8_t> values) {
    bytes.insert(bytes.end(), values);
    return *this;
  }
  Image& Texts(const std::set<int>& absent) {
    for (int i = 0; i < kCustomizedTextCount; ++i) {
      if (!absent.count(i)) Str("Stored " + std::to_string(i));
    }
    return *this;
  }
  void LoadInto(TRuzadaModuleOptions& options, std::uint16_t version) const {
    MemoryStream stream(bytes);
    options.LoadFromStream(stream, version);
    EXPECT_EQ(stream.Position(), stream.Size()) << "block " << version << " not read to its end";
  }
};

const std::set<int> kAbsentBefore500 = {12, 13, 21, 27, 46, 47, 48, 54, 55, 56, 57, 58, 59,
                                        60, 61, 68, 69, 70, 71, 72, 73, 74, 89, 94, 95};

std::set<int> AbsentBefore450() {
  std::set<int> absent = kAbsentBefore500;
  absent.insert({8, 9, 10, 11, 18, 19, 20, 26, 41, 47, 48, 52});
  for (int i = 75; i < kCustomizedTextCount; ++i) absent.insert(i);
  return absent;
}

std::set<int> AbsentBefore420() {
  std::set<int> absent = AbsentBefore450();
  absent.insert({16, 17});
  return absent;
}

void KeepMarkedTexts(TRuzadaModuleOptions& options) {
  for (int i = 0; i < kCustomizedTextCount; ++i) options.SetText(i, "Kept " + std::to_string(i));
}

void ExpectTexts(const TRuzadaModuleOptions& options, const std::set<int>& absent) {
  for (int i = 0; i < kCustomizedTextCount; ++i) {
    EXPECT_EQ(options.GetText(i), (absent.count(i) ? "Kept " : "Stored ") + std::to_string(i));
  }
}

std::set<int> SetBits(const TReportFields& fields) {
  std::set<int> bits;
  for (int bit = 0; bit < TReportFields::kBitCount; ++bit) {
    if (fields.Contains(bit)) bits.insert(bit);
  }
  return bits;
}

MemoryStream Saved(const TRuzadaModuleOptions& options) {
  MemoryStream stream;
  options.SaveToStream(stream);
  stream.SetPosition(0);
  return stream;
}

TEST(ModuleOptionsStream, RoundTripRestoresEveryOptionWithPaddedFilterLists) {
  TRuzadaModuleOptions original("", false);
  ChangeEveryOption(original);
  MemoryStream stream = Saved(original);

  CountingOptions copy;
  copy.LoadFromStream(stream);
  EXPECT_EQ(copy.changes, 1);
  EXPECT_EQ(stream.Position(), stream.Size());
  EXPECT_EQ(copy.FilterClassNames(), original.FilterClassNames());
  EXPECT_EQ(copy.FilterMessages(), (std::vector<std::string>{"Stopped.", "", ""}));
  ModuleOptionValues expected = original.Values();
  expected.FilterMessages.resize(3);
  EXPECT_EQ(copy.Values(), expected);
}

TEST(ModuleOptionsStream, StringsAreScrambledAndLoseOnlyALoneTrailingLineBreak) {
  TRuzadaModuleOptions options("", false);
  options.SetFreezeText("abc");
  const std::vector<std::uint8_t> bytes = Saved(options).Bytes();
  // FreezeText follows seven one-byte fields and FreezeSeconds.
  const std::vector<std::uint8_t> stored(bytes.begin() + 11, bytes.begin() + 18);
  EXPECT_EQ(stored, (std::vector<std::uint8_t>{3, 0, 0, 0, 'a' ^ kOptionsScramblingKey, 'b' ^ kOptionsScramblingKey,
                                               'c' ^ kOptionsScramblingKey}));
  EXPECT_NE(std::string(stored.begin() + 4, stored.end()), "abc");

  for (const auto& [text, kept] : {std::pair<std::string, std::string>{"abc", "abc"},
                                   {"x\r\n", "x"},
                                   {"\r\n", ""},
                                   {"a\r\nb\r\n", "a\r\nb\r\n"},
                                   {"x\r\n\r\n", "x\r\n\r\n"}}) {
    options.SetFreezeText(text);
    MemoryStream stream = Saved(options);
    TRuzadaModuleOptions copy("", false);
    copy.LoadFromStream(stream);
    EXPECT_EQ(copy.FreezeText(), kept) << "stored from \"" << text << '"';
  }
}

TEST(ModuleOptionsStream, Block400KeepsWhatItLacksAndRenumbersReportFields) {
  CountingOptions options;
  options.SetSaveLog(false);
  options.SetDialogFirstTab(3);
  options.SetFreezeSeconds(99);
  options.SetSmtpServer("");
  options.SetFilterClassNames({"Old1", "Old2"});
  options.SetReportFields(TReportFields(TReportFields::Bytes{0, 0, 0, 0, 0x81}));
  KeepMarkedTexts(options);
  options.changes = 0;

  // clang-format off
  Image()
      .Byte(0).Byte(1).Byte(0x09)  // ReportingFlag, FilterEnabled, LogFlags
      .Byte(1)                     // "hide the dialog"
      .Byte(1)                     // LogInMessageBody
      .Byte(0).Int(0).Int(7)       // TerminateButtonEnabled, LogMaxReports, TerminateButtonAfter
      .Str("a@b").Str("subj").Byte(5)
      .Raw({0x30, 0x00, 0x90, 0x80})  // old bits 4, 5, 20, 23, 31
      .Byte(0xEE)                     // skipped
      .Str("C:\\L")
      .Int(1).Str("EAbort").Str("quiet")
      .Str("body")
      .Texts(AbsentBefore420())
      .LoadInto(options, 400);
  // clang-format on

  EXPECT_EQ(options.changes, 1);
  EXPECT_FALSE(options.ReportingFlag());
  EXPECT_EQ(options.LogFlags().ToBits(), 0x09);
  EXPECT_EQ(options.DialogFlags().ToBits(), 0x1E);
  EXPECT_TRUE(options.LogInMessageBody());
  EXPECT_FALSE(options.SaveLog());
  EXPECT_EQ(options.DialogFirstTab(), 3);
  EXPECT_EQ(options.FreezeSeconds(), 99);
  EXPECT_FALSE(options.TerminateButtonEnabled());
  EXPECT_EQ(options.LogMaxReports(), 1);
  EXPECT_EQ(options.TerminateButtonAfter(), 7);
  EXPECT_EQ(options.MailMethod(), 1) << "no SMTP server: the simple method";
  // Old 5 -> 4, old 23 -> 19; the fifth byte's bits 32 and 39 move to 23 and 30.
  EXPECT_EQ(SetBits(options.ReportFields()), (std::set<int>{4, 19, 23, 30}));
  EXPECT_EQ(options.LogFilePath(), "C:\\L");
  EXPECT_EQ(options.FilterClassNames(), std::vector<std::string>{"EAbort"});
  EXPECT_EQ(options.FilterMessages(), std::vector<std::string>{"quiet"});
  EXPECT_EQ(options.MailBody(), "body");
  ExpectTexts(options, AbsentBefore420());
}

TEST(ModuleOptionsStream, Blocks420And421DifferInTheSmtpAccountAndText16) {
  for (const std::uint16_t version : {420, 421}) {
    SCOPED_TRACE(version);
    CountingOptions options;
    options.SetSmtpSender("keep@x");
    options.SetSmtpPort(26);
    options.SetSmtpUser("kept user");
    KeepMarkedTexts(options);
    Image image;
    // clang-format off
    image.Byte(1).Byte(1).Byte(0x30)
        .Byte(0)                 // "hide the dialog" clear
        .Byte(0)                 // LogInMessageBody
        .Byte(1).Byte(2)         // SaveLog, DialogFirstTab
        .Byte(1)                 // dfOwnStyle
        .Byte(1).Int(5000)       // FreezeCheck, FreezeSeconds in milliseconds
        .Str("Frozen!").Str("smtp.x");
    if (version == 421) image.Str("u").Str("pw").Byte(0);  // SmtpUser, SmtpPassword, TerminateAction
    image.Byte(1).Int(10).Int(3).Str("").Str("").Byte(3)
        .Raw({0xFF, 0xFF, 0xFF, 0xFF}).Byte(0).Str("").Int(0).Str("");
    // clang-format on
    std::set<int> absent = AbsentBefore450();
    if (version == 420) absent.insert(16);
    image.Texts(absent).LoadInto(options, version);

    EXPECT_TRUE(options.DialogFlags().Contains(dfShowDialog));
    EXPECT_TRUE(options.DialogFlags().Contains(dfOwnStyle));
    EXPECT_EQ(options.DialogFirstTab(), 2);
    EXPECT_TRUE(options.FreezeCheck());
    EXPECT_EQ(options.FreezeSeconds(), 5);
    EXPECT_EQ(options.FreezeText(), "Frozen!");
    EXPECT_EQ(options.SmtpSender(), "keep@x");
    EXPECT_EQ(options.SmtpPort(), 26);
    EXPECT_EQ(options.SmtpUser(), version == 421 ? "u" : "kept user");
    EXPECT_EQ(options.TerminateAction(), version == 421 ? 0 : 1);
    EXPECT_EQ(options.MailMethod(), 2) << "an SMTP server: the SMTP method";
    ExpectTexts(options, absent);
  }
}

TEST(ModuleOptionsStream, Block449KeepsSecondsAndBlock499CarriesTheThreeSendFlags) {
  CountingOptions options;
  KeepMarkedTexts(options);
  // clang-format off
  Image()
      .Byte(1).Byte(1).Byte(0x30).Byte(1).Byte(0)  // "hide the dialog" set
      .Byte(1).Byte(0).Byte(0)                     // SaveLog, DialogFirstTab, dfOwnStyle
      .Byte(0).Int(45).Str("F").Str("")
      .Str("u").Str("p").Byte(1)
      .Byte(1).Int(12).Int(2).Str("r").Str("s").Byte(1)
      .Raw({0, 0, 0, 0}).Byte(0).Str("").Int(0).Str("")
      .Texts(AbsentBefore450())
      .LoadInto(options, 449);
  // clang-format on
  EXPECT_EQ(options.FreezeSeconds(), 45);
  EXPECT_FALSE(options.DialogFlags().Contains(dfShowDialog));
  EXPECT_EQ(options.MailMethod(), 1);

  options.SetUploadMethod(3);
  options.SetReportFields(TReportFields::All());
  options.SetSendFlags(TSendFlags{sfProgressDialog, sfScreenshot, sfLastHtmlPage});
  KeepMarkedTexts(options);
  // clang-format off
  Image()
      .Byte(1).Byte(1).Byte(0x30)
      .Byte(0)                        // dfShowDialog, no longer inverted
      .Byte(0)                        // LogInMessageBody
      .Byte(1).Byte(0).Byte(0)        // sfWholeLog, sfScreenshot, sfProgressDialog
      .Byte(1).Byte(4).Byte(1)        // SaveLog, DialogFirstTab, dfOwnStyle
      .Byte(0).Int(30).Str("F").Str("s@x").Str("smtp").Word(465)
      .Str("u").Str("p").Byte(1)
      .Byte(1).Int(12).Int(2).Str("r").Str("s").Byte(3)
      .Raw({0x01, 0, 0, 0})           // no skipped byte from 450 on
      .Str("path")
      .Int(2).Str("A").Str("a").Str("B").Str("b")
      .Str("body")
      .Texts(kAbsentBefore500)
      .LoadInto(options, 499);
  // clang-format on
  EXPECT_EQ(options.SendFlags(), (TSendFlags{sfWholeLog, sfLastHtmlPage}));
  EXPECT_FALSE(options.DialogFlags().Contains(dfShowDialog));
  EXPECT_TRUE(options.DialogFlags().Contains(dfOwnStyle));
  EXPECT_EQ(options.SmtpSender(), "s@x");
  EXPECT_EQ(options.SmtpPort(), 465);
  EXPECT_EQ(options.MailMethod(), 3);
  EXPECT_EQ(options.UploadMethod(), 3) << "upload settings came with 500";
  EXPECT_EQ(SetBits(options.ReportFields()), (std::set<int>{0, 23, 24, 25, 26, 27, 28, 29, 30}));
  EXPECT_EQ(options.FilterMessages(), (std::vector<std::string>{"a", "b"}));
  ExpectTexts(options, kAbsentBefore500);
}

TEST(ModuleOptionsStream, DamagedBlocksRaiseTheReadErrorAndChangeNothing) {
  TRuzadaModuleOptions source("", false);
  ChangeEveryOption(source);
  const std::vector<std::uint8_t> good = Saved(source).Bytes();

  CountingOptions options;
  const ModuleOptionValues before = options.Values();
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    options.changes = 0;
    MemoryStream stream(std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)));
    ASSERT_THROW(options.LoadFromStream(stream), EReadError) << "cut at " << cut;
    ASSERT_EQ(options.UpdateCount(), 0);
    ASSERT_EQ(options.changes, 1) << "the bracket closes with its announcement";
    ASSERT_EQ(options.Values(), before);
  }

  // Lengths and counts that no block of this size can hold are refused
  // before anything is allocated or looped over.
  const auto with_int_at = [&good](std::size_t offset, std::uint32_t value) {
    std::vector<std::uint8_t> bytes = good;
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return bytes;
  };
  for (const auto& damaged : {with_int_at(11, 0x7FFFFFF0), with_int_at(11, 0xFFFFFFFF),
                              with_int_at(11, static_cast<std::uint32_t>(good.size()))}) {
    MemoryStream stream(damaged);
    EXPECT_THROW(options.LoadFromStream(stream), EReadError);
  }
  // Without filters the pair count is followed by the empty MailBody and the
  // 96 default texts.
  std::size_t tail = 4;
  for (const std::string& text : DefaultCustomizedTexts()) tail += 4 + text.size();
  std::vector<std::uint8_t> huge_count = Saved(TRuzadaModuleOptions("", false)).Bytes();
  const std::size_t pair_count_offset = huge_count.size() - tail - 4;
  ASSERT_EQ(huge_count[pair_count_offset], 0);
  huge_count[pair_count_offset + 3] = 0x10;
  MemoryStream stream(huge_count);
  EXPECT_THROW(options.LoadFromStream(stream), EReadError);
  EXPECT_EQ(options.Values(), before);

  MemoryStream intact(good);
  options.LoadFromStream(intact);
  EXPECT_EQ(options.SmtpServer(), "mail.example.org") << "still usable after the failures";
}

}  // namespace
}  // namespace vellum::exceptlog
