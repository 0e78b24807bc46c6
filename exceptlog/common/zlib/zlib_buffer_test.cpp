#include "exceptlog/common/zlib/zlib_buffer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "exceptlog/common/zlib/testing/pattern_bytes_test_support.h"

namespace vellum::exceptlog {
namespace {

using testing::PatternBytes;

Bytes ReportText(std::size_t size) {
  const std::string line = "|00401A2C|VellumDeskBand.dll|bandform.cpp|TVellumDeskBandForm|pnlDockResize|118[3]|\r\n";
  Bytes text;
  while (text.size() < size) text.insert(text.end(), line.begin(), line.end());
  text.resize(size);
  return text;
}

TEST(ZLibBufferTest, CompressedBuffersInflateToTheirInput) {
  for (const Bytes& input : {Bytes{}, Bytes{'x'}, ReportText(100000), PatternBytes(300000, 7)}) {
    const Bytes packed = CompressBuf(input.data(), input.size());
    ASSERT_GE(packed.size(), 6u);
    EXPECT_EQ(packed[0], 0x78);  // deflate, 32 KiB window
    EXPECT_EQ(packed[1], 0xDA);  // level 9
    EXPECT_EQ(DecompressBuf(packed.data(), packed.size()), input) << input.size();
  }
  const Bytes text = ReportText(100000);
  EXPECT_LT(CompressBuf(text.data(), text.size()).size(), text.size() / 20);
}

TEST(ZLibBufferTest, RawDeflateIsTheZlibStreamWithoutHeaderAndTrailer) {
  const Bytes text = ReportText(70000);
  const Bytes packed = CompressBuf(text.data(), text.size());
  const Bytes raw = DeflateRaw(text.data(), text.size());
  EXPECT_EQ(raw, Bytes(packed.begin() + 2, packed.end() - 4));
}

TEST(ZLibBufferTest, DamagedStreamsFailClearlyOrYieldWhatPrecedesTheDamage) {
  const Bytes text = ReportText(50000);
  const Bytes packed = CompressBuf(text.data(), text.size());

  const Bytes cut(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packed.size() / 2));
  try {
    DecompressBuf(cut.data(), cut.size());
    ADD_FAILURE() << "a truncated stream was accepted";
  } catch (const EZLibError& e) {
    EXPECT_STREQ(e.what(), "unexpected end of compressed data");
  }
  const PartialInflate partial = DecompressBufPartial(cut.data(), cut.size());
  EXPECT_FALSE(partial.complete);
  EXPECT_EQ(partial.error, "unexpected end of compressed data");
  ASSERT_GT(partial.bytes.size(), 0u);
  ASSERT_LT(partial.bytes.size(), text.size());
  EXPECT_TRUE(std::equal(partial.bytes.begin(), partial.bytes.end(), text.begin()));

  Bytes bad_check = packed;
  bad_check.back() ^= 1;
  EXPECT_THROW(DecompressBuf(bad_check.data(), bad_check.size()), EZLibError);
  const PartialInflate checked = DecompressBufPartial(bad_check.data(), bad_check.size());
  EXPECT_EQ(checked.error, "data error: incorrect data check");
  EXPECT_EQ(checked.bytes, text);  // all of it arrived; only the checksum is wrong

  const Bytes garbage{0x78, 0xDA, 0xFF, 0xFF, 0xFF, 0xFF};
  const PartialInflate broken = DecompressBufPartial(garbage.data(), garbage.size());
  EXPECT_FALSE(broken.complete);
  EXPECT_EQ(broken.error.rfind("data error", 0), 0u) << broken.error;

  EXPECT_EQ(DecompressBufPartial(nullptr, 0).error, "unexpected end of compressed data");
}

TEST(ZLibBufferTest, StreamsWithPresetDictionaryAreRefused) {
  z_stream z{};
  ASSERT_EQ(deflateInit(&z, 9), Z_OK);
  const Bytef dictionary[] = "VellumDeskBand";
  ASSERT_EQ(deflateSetDictionary(&z, dictionary, sizeof dictionary), Z_OK);
  Bytes out(256);
  Bytef input[] = "VellumDeskBand VellumDeskBand";
  z.next_in = input;
  z.avail_in = sizeof input;
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  EXPECT_EQ(DecompressBufPartial(out.data(), out.size()).error, "need dictionary");
}

TEST(ZLibBufferTest, OutputIsBoundedByTheLimit) {
  const Bytes zeros(1 << 20);
  const Bytes packed = CompressBuf(zeros.data(), zeros.size());
  ASSERT_LT(packed.size(), 2000u);  // a thousandfold: growing by the input's size would take ages

  EXPECT_EQ(DecompressBuf(packed.data(), packed.size(), zeros.size()), zeros);  // ends exactly on it
  try {
    DecompressBuf(packed.data(), packed.size(), zeros.size() - 1);
    ADD_FAILURE() << "the limit was passed";
  } catch (const EZLibError& e) {
    EXPECT_STREQ(e.what(), "decompressed data exceeds the limit of 1048575 bytes");
  }
  EXPECT_THROW(DecompressBufPartial(packed.data(), packed.size(), 4096), EZLibError);

  const Bytes empty_packed = CompressBuf(nullptr, 0);
  EXPECT_TRUE(DecompressBuf(empty_packed.data(), empty_packed.size(), 0).empty());
}

TEST(ZLibBufferTest, BytesAfterTheStreamAreIgnored) {
  const Bytes text = ReportText(3000);
  Bytes packed = CompressBuf(text.data(), text.size());
  packed.insert(packed.end(), {'t', 'r', 'a', 'i', 'l'});
  EXPECT_EQ(DecompressBuf(packed.data(), packed.size()), text);
}

}  // namespace
}  // namespace vellum::exceptlog
