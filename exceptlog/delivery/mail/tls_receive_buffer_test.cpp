#include "exceptlog/delivery/mail/tls_receive_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vellum::exceptlog {
namespace {

void Receive(TlsReceiveBuffer& buffer, const std::string& bytes) {
  const auto room = buffer.Room(bytes.size());
  ASSERT_EQ(room.size(), bytes.size());
  std::memcpy(room.data(), bytes.data(), bytes.size());
  buffer.Received(bytes.size());
}

std::string PendingText(TlsReceiveBuffer& buffer) {
  const auto pending = buffer.Pending();
  return std::string(reinterpret_cast<const char*>(pending.data()), pending.size());
}

TEST(TlsReceiveBufferTest, PiecesOfARecordGatherUntilItIsWhole) {
  TlsReceiveBuffer buffer;
  Receive(buffer, "rec");
  // The decrypter asks for more and uses nothing: the next read appends.
  Receive(buffer, "ord-1");
  EXPECT_EQ(PendingText(buffer), "record-1");
  buffer.KeepLast(0);
  EXPECT_TRUE(buffer.Empty());
}

TEST(TlsReceiveBufferTest, ExtraBytesMoveToTheFrontAndTheNextReadFollowsThem) {
  TlsReceiveBuffer buffer;
  Receive(buffer, "record-1rec");
  buffer.KeepLast(3);
  EXPECT_EQ(PendingText(buffer), "rec");
  Receive(buffer, "ord-2record-3");
  buffer.KeepLast(8);
  EXPECT_EQ(PendingText(buffer), "record-3");
  buffer.KeepLast(8);  // all of it kept: nothing used
  EXPECT_EQ(PendingText(buffer), "record-3");
}

TEST(TlsReceiveBufferTest, HandsBackNoMoreThanItHolds) {
  TlsReceiveBuffer buffer;
  Receive(buffer, "abc");
  EXPECT_THROW(buffer.KeepLast(4), ETlsError);
  EXPECT_THROW(buffer.Received(buffer.Room(2).size() + 1), ETlsError);
}

TEST(TlsReceiveBufferTest, APeerThatNeverCompletesARecordHitsTheLimit) {
  TlsReceiveBuffer buffer(10);
  Receive(buffer, "12345678");
  EXPECT_EQ(buffer.Room(100).size(), 2u);  // only up to the limit
  buffer.Received(2);
  EXPECT_THROW(buffer.Room(1), ETlsError);
  // Using the bytes frees the room again.
  buffer.KeepLast(4);
  EXPECT_EQ(buffer.Room(100).size(), 6u);
}

}  // namespace
}  // namespace vellum::exceptlog
