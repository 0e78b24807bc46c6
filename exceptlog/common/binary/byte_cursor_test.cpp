#include "exceptlog/common/binary/byte_cursor.h"

#include <gtest/gtest.h>

#include <vector>

#include "exceptlog/common/binary/byte_source.h"
#include "exceptlog/common/binary/little_endian.h"
#include "runtime/exception.h"

namespace vellum::exceptlog {
namespace {

VELLUM_EXCEPTION_CLASS(ETestFormatError, Exception);
using Cursor = ByteCursor<ETestFormatError>;
using Bytes = std::vector<std::uint8_t>;

TEST(LittleEndian, LoadsAndStoresAgreeWhateverTheAlignment) {
  const Bytes bytes = {0xFF, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0xF0, 0xDE, 0xBC, 0x9A};
  EXPECT_EQ(LoadU16(&bytes[1]), 0x1234);
  EXPECT_EQ(LoadU32(&bytes[3]), 0x12345678u);
  EXPECT_EQ(LoadU32(&bytes[0]), 0x781234FFu) << "the top byte must not sign-extend";
  EXPECT_EQ(LoadU64(&bytes[3]), 0x9ABCDEF012345678ull);
  EXPECT_EQ(LoadUnsigned(&bytes[1], 3), 0x781234u);

  std::uint8_t out[8] = {};
  StoreU32(out + 1, 0xCAFEBABE);
  EXPECT_EQ(LoadU32(out + 1), 0xCAFEBABEu);
  StoreU16(out, 0xBEEF);
  EXPECT_EQ(out[0], 0xEF);
  EXPECT_EQ(out[1], 0xBE);

  Bytes appended;
  AppendU16(appended, 0x0102);
  AppendU32(appended, 0x03040506);
  AppendF64(appended, 1.0);
  EXPECT_EQ(appended, (Bytes{0x02, 0x01, 0x06, 0x05, 0x04, 0x03, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  EXPECT_EQ(LoadF64(&appended[6]), 1.0);
}

TEST(ByteCursor, ReadsInOrderAndRaisesItsFormatsErrorPastTheEnd) {
  const Bytes bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
  Cursor in(bytes);
  EXPECT_EQ(in.U8(), 0x01);
  EXPECT_EQ(in.U16(), 0x0302);
  EXPECT_EQ(in.Fixed(3), 0x060504u);
  EXPECT_EQ(in.Remaining(), 1u);
  // A failed read moves nothing: the last byte is still there to read.
  EXPECT_THROW(in.U32(), ETestFormatError);
  EXPECT_EQ(in.Position(), 6u);
  EXPECT_FALSE(in.Has(2));
  EXPECT_EQ(in.U8(), 0x07);
  EXPECT_TRUE(in.AtEnd());
  EXPECT_THROW(in.U8(), ETestFormatError);
  EXPECT_TRUE(in.Take(0).empty());
}

TEST(ByteCursor, OffsetsAndCountsPastTheEndAreRefusedWithoutWrapping) {
  const Bytes bytes(16);
  EXPECT_THROW(Cursor(bytes, 17), ETestFormatError);
  Cursor in(bytes, 16);
  EXPECT_TRUE(in.AtEnd());
  in.Seek(4);
  EXPECT_THROW(in.Skip(13), ETestFormatError);
  // Counts that would wrap a 32- or 64-bit position.
  EXPECT_THROW(in.Take(UINT64_MAX), ETestFormatError);
  EXPECT_THROW(in.Skip(std::uint64_t{1} << 32), ETestFormatError);
  EXPECT_THROW(in.Seek(UINT64_MAX), ETestFormatError);
  EXPECT_THROW(in.Fixed(9), ETestFormatError);
  EXPECT_EQ(in.Position(), 4u);
  EXPECT_EQ(in.Rest().size(), 12u);
}

TEST(ByteCursor, Leb128NumbersAsDwarfWritesThem) {
  const Bytes bytes = {0x02, 0x7F, 0x80, 0x01, 0xB9, 0x64, 0x7E, 0x81, 0x7F, 0x80, 0x7F, 0xC0, 0xBB, 0x78};
  Cursor in(bytes);
  EXPECT_EQ(in.Uleb(), 2u);
  EXPECT_EQ(in.Uleb(), 127u);
  EXPECT_EQ(in.Uleb(), 128u);
  EXPECT_EQ(in.Uleb(), 12857u);
  EXPECT_EQ(in.Sleb(), -2);
  EXPECT_EQ(in.Sleb(), -127);
  EXPECT_EQ(in.Sleb(), -128);
  EXPECT_EQ(in.Sleb(), -123456);
  EXPECT_TRUE(in.AtEnd());

  // Continuation bytes beyond 64 bits are read and dropped; a number that
  // never ends runs into the end of the data.
  Bytes long_number(20, 0x81);
  long_number.push_back(0x00);
  Cursor longer(long_number);
  EXPECT_EQ(longer.Uleb(), 0x8102040810204081ull);
  EXPECT_TRUE(longer.AtEnd());
  const Bytes endless(12, 0xFF);
  Cursor unterminated(endless);
  EXPECT_THROW(unterminated.Uleb(), ETestFormatError);
  Cursor unterminated_signed(endless);
  EXPECT_THROW(unterminated_signed.Sleb(), ETestFormatError);
}

TEST(ByteCursor, StringsNeedTheirEnd) {
  const Bytes bytes = {'a', 'b', 0, 0, 'c'};
  Cursor in(bytes);
  EXPECT_EQ(in.CString(), "ab");
  EXPECT_EQ(in.CString(), "");
  EXPECT_THROW(in.CString(), ETestFormatError);
  EXPECT_EQ(in.Position(), 4u);
}

TEST(ByteSource, BuffersAndWindowsReadOnlyWhatIsThere) {
  const Bytes bytes = {'n', 'a', 'm', 'e', 0, 1, 2, 3, 'x', 'y'};
  const BufferByteSource source(bytes);
  EXPECT_EQ(source.U32(4), 0x03020100u);
  EXPECT_FALSE(source.U32(7));
  EXPECT_FALSE(source.U16(UINT64_MAX));
  EXPECT_EQ(source.CString(0, 256), "name");
  EXPECT_EQ(source.CString(0, 2), "na");
  EXPECT_EQ(source.CString(8, 256), "xy") << "a text cut by the end is what was there";
  EXPECT_EQ(source.CString(10, 256), "");

  const ByteSourceWindow window(source, 5, 4);
  EXPECT_EQ(window.U16(2), 0x7803);
  EXPECT_FALSE(window.U16(3)) << "the window ends before the source does";
  EXPECT_EQ(ByteSourceWindow(source, 8, 1).CString(0, 256), "x");
  const ByteSourceWindow huge(source, 2, UINT64_MAX);
  EXPECT_FALSE(huge.U16(UINT64_MAX - 3));
  EXPECT_EQ(huge.CString(0, 256), "me");
}

}  // namespace
}  // namespace vellum::exceptlog
