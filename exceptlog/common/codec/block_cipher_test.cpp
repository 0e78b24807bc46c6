#include "exceptlog/common/codec/block_cipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace vellum::exceptlog {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

Bytes Encrypted(const BlockCipher& cipher, const Bytes& plain) {
  Bytes out(plain.size());
  cipher.EncryptBuffer(plain.data(), out.data(), plain.size());
  return out;
}

Bytes Decrypted(const BlockCipher& cipher, const Bytes& encrypted) {
  Bytes out(encrypted.size());
  cipher.DecryptBuffer(encrypted.data(), out.data(), encrypted.size());
  return out;
}

// The expected values below come from an independent implementation of the
// format; a change to any of them makes every protected module unreadable.
TEST(BlockCipherTest, DerivesTheKeyFromTheBigEndianWordsOfTheDigest) {
  EXPECT_EQ(BlockCipher("abc").Key(), (CipherKey{0x90015098, 0x3cd24fb0, 0xd6963f7d, 0x28e17f72}));
  EXPECT_EQ(BlockCipher("secret").Key(), (CipherKey{0x5ebe2294, 0xecd0e0f0, 0x8eab7690, 0xd2a6ee69}));
}

TEST(BlockCipherTest, RoundsFollowTheVariantAndInvert) {
  const BlockCipher cipher("secret");
  const CipherBlock plain{0, 1, 2, 3, 4, 5, 6, 7};
  const CipherBlock encrypted = cipher.EncryptBlock(plain);
  EXPECT_EQ(Bytes(encrypted.begin(), encrypted.end()), FromHex("c061dc284a2884c7"));
  EXPECT_EQ(cipher.DecryptBlock(encrypted), plain);
}

TEST(BlockCipherTest, StartingBlockIsFixed) {
  const CipherBlock& start = BlockCipher::StartingBlock();
  EXPECT_EQ(Bytes(start.begin(), start.end()), FromHex("ed27a46badb9b6d4"));
}

TEST(BlockCipherTest, ChainsBlocksAndXorsTheTail) {
  const std::string name = "TVellumDeskBandForm.pnlDockResize";  // four blocks and one byte
  const Bytes plain(name.begin(), name.end());
  const BlockCipher cipher("secret");
  EXPECT_EQ(Encrypted(cipher, plain), FromHex("a65963ca8810e97b2dc380e441eefd0390b07c44508a2444a130a14155c69d90d8"));

  // Shorter than a block: only the enciphered starting block is xored in.
  const CipherBlock key_stream = cipher.EncryptBlock(BlockCipher::StartingBlock());
  const Bytes short_plain{'a', 'b', 'c'};
  const Bytes short_encrypted = Encrypted(cipher, short_plain);
  for (std::size_t i = 0; i < short_plain.size(); ++i) EXPECT_EQ(short_encrypted[i], short_plain[i] ^ key_stream[i]);
}

TEST(BlockCipherTest, RoundTripsEveryLengthInPlaceAndBetweenBuffers) {
  const BlockCipher cipher("p\xE4ssw\xF6rd");
  for (std::size_t length = 0; length <= 17; ++length) {
    Bytes plain(length);
    for (std::size_t i = 0; i < length; ++i) plain[i] = static_cast<std::uint8_t>(i * 37 + 11);
    const Bytes encrypted = Encrypted(cipher, plain);
    ASSERT_EQ(encrypted.size(), length);
    if (length != 0) {
      EXPECT_NE(encrypted, plain) << length;
    }
    EXPECT_EQ(Decrypted(cipher, encrypted), plain) << length;

    Bytes in_place = plain;
    cipher.EncryptBuffer(in_place.data(), in_place.data(), length);
    EXPECT_EQ(in_place, encrypted) << length;
    cipher.DecryptBuffer(in_place.data(), in_place.data(), length);
    EXPECT_EQ(in_place, plain) << length;
  }
}

TEST(BlockCipherTest, WrongPasswordNeverYieldsTheCheckMagic) {
  const Bytes magic{0x10, 0xAB, 0x0F, 0x00};  // 0x000FAB10, little-endian
  const Bytes check = Encrypted(BlockCipher("Correct Horse"), magic);
  EXPECT_EQ(Decrypted(BlockCipher("Correct Horse"), check), magic);

  std::vector<std::string> wrong = {"", "correct horse", "Correct Horse ", "Correct Hors", "CORRECT HORSE"};
  for (int i = 0; i < 2000; ++i) wrong.push_back("guess" + std::to_string(i));
  for (const std::string& password : wrong) EXPECT_NE(Decrypted(BlockCipher(password), check), magic) << password;
}

TEST(BlockCipherTest, ProcessKeyIsTheLastOneSet) {
  const Bytes plain{'U', 'n', 'i', 't', '1', '.', 'p', 'a', 's'};
  SetCipherKey("first");
  SetCipherKey("secret");
  Bytes encrypted(plain.size());
  EncryptBuffer(plain.data(), encrypted.data(), plain.size());
  EXPECT_EQ(encrypted, Encrypted(BlockCipher("secret"), plain));
  Bytes decrypted(plain.size());
  DecryptBuffer(encrypted.data(), decrypted.data(), encrypted.size());
  EXPECT_EQ(decrypted, plain);
  const CipherBlock block{1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(DecryptBlock(EncryptBlock(block)), block);
  EXPECT_EQ(EncryptBlock(block), BlockCipher("secret").EncryptBlock(block));
}

}  // namespace
}  // namespace vellum::exceptlog
