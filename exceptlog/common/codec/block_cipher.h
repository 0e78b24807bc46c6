// The cipher that protects names in a module's debug data: a 64-bit block,
// 128-bit key variant of TEA (the key words enter by xor, the shifted values
// by addition, unlike the published round) keyed by the MD5 digest of a
// password. Buffers are chained from one fixed starting block; a last part
// shorter than a block is xored with the enciphered chain value, so the
// ciphertext is exactly as long as the plaintext.
//
// The debug-data producer (a build tool) encrypts and this program decrypts;
// both must agree on every detail here, the starting block included, or
// every protected name of every shipped module becomes unreadable.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vellum::exceptlog {

using CipherBlock = std::array<std::uint8_t, 8>;
using CipherKey = std::array<std::uint32_t, 4>;

class BlockCipher {
 public:
  // K0..K3: the password's MD5 digest as four big-endian words.
  explicit BlockCipher(const std::string& password);
  explicit BlockCipher(const CipherKey& key) : key_(key) {}

  const CipherKey& Key() const { return key_; }
  CipherBlock EncryptBlock(const CipherBlock& block) const;
  CipherBlock DecryptBlock(const CipherBlock& block) const;
  // `source` and `destination` are either the same buffer or do not overlap.
  void EncryptBuffer(const void* source, void* destination, std::size_t length) const;
  void DecryptBuffer(const void* source, void* destination, std::size_t length) const;

  // Same for every buffer and every key.
  static const CipherBlock& StartingBlock();

 private:
  CipherKey key_{};
};

// The process-wide key of the module reader, which deciphers one module's
// names at a time under the report pipeline's lock. The calls are safe from
// any thread, but a key set by one thread is the key every thread then uses.
void SetCipherKey(const std::string& password);
CipherBlock EncryptBlock(const CipherBlock& block);
CipherBlock DecryptBlock(const CipherBlock& block);
void EncryptBuffer(const void* source, void* destination, std::size_t length);
void DecryptBuffer(const void* source, void* destination, std::size_t length);

}  // namespace vellum::exceptlog
