// Byte images put together by hand for the debug-data tests, and a code
// reader over a fixed byte map.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "exceptlog/capture/debugdata/debug_data.h"
#include "exceptlog/capture/options/customized_texts.h"
#include "exceptlog/capture/options/options_codec.h"

namespace vellum::exceptlog::testing {

struct Image {
  std::vector<std::uint8_t> bytes;

  Image& Byte(std::uint8_t value) {
    bytes.push_back(value);
    return *this;
  }
  Image& Word(std::uint16_t value) { return Byte(value & 0xFF).Byte(value >> 8); }
  Image& Int(std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) Byte(static_cast<std::uint8_t>(value >> shift));
    return *this;
  }
  Image& Raw(std::initializer_list<std::uint8_t> values) {
    bytes.insert(bytes.end(), values);
    return *this;
  }
  Image& Append(const std::vector<std::uint8_t>& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
  }
  // An option string: length, then scrambled bytes.
  Image& Str(std::string_view text) {
    Int(static_cast<std::uint32_t>(text.size()));
    for (char c : text) Byte(static_cast<std::uint8_t>(c) ^ kOptionsScramblingKey);
    return *this;
  }
  // A debug-data name of a block older than 500: length byte, scrambled bytes.
  Image& OldName(std::string_view text) {
    Byte(static_cast<std::uint8_t>(text.size()));
    for (char c : text) Byte(static_cast<std::uint8_t>(c) ^ kOptionsScramblingKey);
    return *this;
  }
  // A name part enciphered with `password`; `more` sets the chain bit.
  Image& CipheredName(std::string_view text, const std::string& password, bool more = false) {
    std::string stored(text);
    BlockCipher(password).EncryptBuffer(stored.data(), stored.data(), stored.size());
    Byte(static_cast<std::uint8_t>(stored.size() | (more ? 0x80 : 0)));
    for (char c : stored) Byte(static_cast<std::uint8_t>(c));
    return *this;
  }
};

// The options stream of a block of version 449: every text stored from 450
// on and from 500 on left out.
inline std::vector<std::uint8_t> OptionsStream449(std::string_view mail_subject) {
  std::set<int> absent = {12, 13, 21, 27, 46, 47, 48, 54, 55, 56, 57, 58, 59, 60, 61, 68, 69, 70, 71,
                          72, 73, 74, 89, 94, 95, 8,  9,  10, 11, 18, 19, 20, 26, 41, 47, 48, 52};
  for (int i = 75; i < kCustomizedTextCount; ++i) absent.insert(i);
  Image image;
  // clang-format off
  image.Byte(1).Byte(1).Byte(0x30).Byte(1).Byte(0)  // flags, "hide the dialog" set, LogInMessageBody
       .Byte(1).Byte(0).Byte(0)                     // SaveLog, DialogFirstTab, dfOwnStyle
       .Byte(0).Int(45).Str("F").Str("")             // FreezeCheck, seconds, text, SmtpServer
       .Str("u").Str("p").Byte(1)                    // SmtpUser, SmtpPassword, TerminateAction
       .Byte(1).Int(12).Int(2).Str("r").Str(mail_subject).Byte(1)
       .Raw({0, 0, 0, 0}).Byte(0).Str("").Int(0).Str("");
  // clang-format on
  for (int i = 0; i < kCustomizedTextCount; ++i) {
    if (!absent.count(i)) image.Str("Stored " + std::to_string(i));
  }
  return image.bytes;
}

// The options stream of a block of version 499.
inline std::vector<std::uint8_t> OptionsStream499(std::string_view mail_subject) {
  const std::set<int> absent = {12, 13, 21, 27, 46, 47, 48, 54, 55, 56, 57, 58, 59,
                                60, 61, 68, 69, 70, 71, 72, 73, 74, 89, 94, 95};
  Image image;
  // clang-format off
  image.Byte(1).Byte(1).Byte(0x30).Byte(0).Byte(0)  // flags, dfShowDialog, LogInMessageBody
       .Byte(1).Byte(0).Byte(0)                     // sfWholeLog, sfScreenshot, sfProgressDialog
       .Byte(1).Byte(4).Byte(1)                     // SaveLog, DialogFirstTab, dfOwnStyle
       .Byte(0).Int(30).Str("F").Str("s@x").Str("smtp").Word(465)
       .Str("u").Str("p").Byte(1)
       .Byte(1).Int(12).Int(2).Str("r").Str(mail_subject).Byte(3)
       .Raw({0x01, 0, 0, 0}).Str("path")
       .Int(2).Str("A").Str("a").Str("B").Str("b")
       .Str("body");
  // clang-format on
  for (int i = 0; i < kCustomizedTextCount; ++i) {
    if (!absent.count(i)) image.Str("Stored " + std::to_string(i));
  }
  return image.bytes;
}

// Code bytes for the prologue rule: the listed offsets hold the listed bytes,
// everything else is unreadable.
inline CodeBytesReader CodeAt(std::map<std::uint32_t, std::vector<std::uint8_t>> code) {
  return [code = std::move(code)](std::uint32_t offset, std::span<std::uint8_t> out) {
    const auto it = code.find(offset);
    if (it == code.end() || it->second.size() < out.size()) return false;
    std::copy_n(it->second.begin(), out.size(), out.begin());
    return true;
  };
}

}  // namespace vellum::exceptlog::testing
