#include "exceptlog/delivery/mail/tls_record_header.h"

#include <gtest/gtest.h>

#include <string_view>

namespace vellum::exceptlog {
namespace {

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(TlsRecordHeaderTest, AGreetingInClearIsNoRecord) {
  EXPECT_FALSE(StartsLikeTlsRecord(Bytes("220 mail.example ESMTP\r\n")));
  EXPECT_FALSE(StartsLikeTlsRecord(Bytes("2")));
  EXPECT_FALSE(StartsLikeTlsRecord(Bytes("\x16\x02")));                                   // SSL 2 is no TLS
  EXPECT_FALSE(StartsLikeTlsRecord(Bytes(std::string_view("\x17\x03\x03\x50\x00", 5))));  // longer than a record
}

TEST(TlsRecordHeaderTest, ARecordStartIsOneWhicheverPartHasArrived) {
  const std::string_view hello("\x16\x03\x01\x00\x30", 5);
  for (std::size_t size = 0; size <= hello.size(); ++size) {
    EXPECT_TRUE(StartsLikeTlsRecord(Bytes(hello.substr(0, size)))) << size;
  }
  EXPECT_TRUE(StartsLikeTlsRecord(Bytes(std::string_view("\x15\x03\x03\x48\x00", 5))));  // an alert at the limit
}

TEST(TlsRecordHeaderTest, WhatTheServerSaidIsShownUpToItsLineEnd) {
  EXPECT_EQ(PrintableStart(Bytes("220 relay ready\r\n250 more")), "220 relay ready");
  EXPECT_EQ(PrintableStart(Bytes(std::string_view("a\0b\x90", 4))), "a?b?");
  EXPECT_EQ(PrintableStart(Bytes("abcdef"), 3), "abc");
}

}  // namespace
}  // namespace vellum::exceptlog
