#include "exceptlog/common/codec/block_cipher.h"

#include <cstring>
#include <mutex>

#include "exceptlog/common/codec/md5.h"

namespace vellum::exceptlog {
namespace {

constexpr std::uint32_t kDelta = 0x9E3779B9;
constexpr int kCycles = 32;
constexpr std::uint32_t kFinalSum = kDelta * kCycles;  // 0xC6EF3720 modulo 2^32

// The starting block is derived, not stored: a text that has to stay exactly
// as it is for as long as protected modules exist.
constexpr char kStartingBlockSeed[] = "VellumDeskBand protected names";

std::uint32_t ReadBigEndian(const std::uint8_t* bytes) {
  return (static_cast<std::uint32_t>(bytes[0]) << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3];
}

void WriteBigEndian(std::uint32_t value, std::uint8_t* bytes) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

CipherBlock Xor(const CipherBlock& left, const CipherBlock& right) {
  CipherBlock result;
  for (std::size_t i = 0; i < result.size(); ++i) result[i] = left[i] ^ right[i];
  return result;
}

CipherBlock LoadBlock(const std::uint8_t* bytes) {
  CipherBlock block;
  std::memcpy(block.data(), bytes, block.size());
  return block;
}

std::mutex key_lock;
CipherKey process_key{};

BlockCipher ProcessCipher() {
  std::lock_guard<std::mutex> hold(key_lock);
  return BlockCipher(process_key);
}

}  // namespace

BlockCipher::BlockCipher(const std::string& password) {
  const Md5Digest digest = MD5Digest(password);
  for (std::size_t i = 0; i < key_.size(); ++i) key_[i] = ReadBigEndian(digest.data() + 4 * i);
}

const CipherBlock& BlockCipher::StartingBlock() {
  static const CipherBlock block = [] {
    const Md5Digest digest = MD5Digest(kStartingBlockSeed, sizeof kStartingBlockSeed - 1);
    return LoadBlock(digest.data());
  }();
  return block;
}

CipherBlock BlockCipher::EncryptBlock(const CipherBlock& block) const {
  const auto [k0, k1, k2, k3] = key_;
  std::uint32_t v0 = ReadBigEndian(block.data());
  std::uint32_t v1 = ReadBigEndian(block.data() + 4);
  std::uint32_t sum = 0;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    sum += kDelta;
    v0 += (v1 << 4) + (v1 ^ k0) + ((v1 >> 5) ^ sum) + k1;
    v1 += (v0 << 4) + (v0 ^ k2) + ((v0 >> 5) ^ sum) + k3;
  }
  CipherBlock result;
  WriteBigEndian(v0, result.data());
  WriteBigEndian(v1, result.data() + 4);
  return result;
}

CipherBlock BlockCipher::DecryptBlock(const CipherBlock& block) const {
  const auto [k0, k1, k2, k3] = key_;
  std::uint32_t v0 = ReadBigEndian(block.data());
  std::uint32_t v1 = ReadBigEndian(block.data() + 4);
  std::uint32_t sum = kFinalSum;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    v1 -= (v0 << 4) + (v0 ^ k2) + ((v0 >> 5) ^ sum) + k3;
    v0 -= (v1 << 4) + (v1 ^ k0) + ((v1 >> 5) ^ sum) + k1;
    sum -= kDelta;
  }
  CipherBlock result;
  WriteBigEndian(v0, result.data());
  WriteBigEndian(v1, result.data() + 4);
  return result;
}

void BlockCipher::EncryptBuffer(const void* source, void* destination, std::size_t length) const {
  const auto* in = static_cast<const std::uint8_t*>(source);
  auto* out = static_cast<std::uint8_t*>(destination);
  CipherBlock chain = StartingBlock();
  std::size_t offset = 0;
  for (; offset + 8 <= length; offset += 8) {
    chain = EncryptBlock(Xor(LoadBlock(in + offset), chain));
    std::memcpy(out + offset, chain.data(), chain.size());
  }
  const CipherBlock key_stream = EncryptBlock(chain);
  for (std::size_t i = 0; offset + i < length; ++i) out[offset + i] = in[offset + i] ^ key_stream[i];
}

void BlockCipher::DecryptBuffer(const void* source, void* destination, std::size_t length) const {
  const auto* in = static_cast<const std::uint8_t*>(source);
  auto* out = static_cast<std::uint8_t*>(destination);
  CipherBlock chain = StartingBlock();
  std::size_t offset = 0;
  for (; offset + 8 <= length; offset += 8) {
    // Copied before the plain block overwrites it when decrypting in place.
    const CipherBlock cipher = LoadBlock(in + offset);
    const CipherBlock plain = Xor(DecryptBlock(cipher), chain);
    chain = cipher;
    std::memcpy(out + offset, plain.data(), plain.size());
  }
  const CipherBlock key_stream = EncryptBlock(chain);
  for (std::size_t i = 0; offset + i < length; ++i) out[offset + i] = in[offset + i] ^ key_stream[i];
}

void SetCipherKey(const std::string& password) {
  const BlockCipher cipher(password);
  std::lock_guard<std::mutex> hold(key_lock);
  process_key = cipher.Key();
}

CipherBlock EncryptBlock(const CipherBlock& block) {
  return ProcessCipher().EncryptBlock(block);
}
CipherBlock DecryptBlock(const CipherBlock& block) {
  return ProcessCipher().DecryptBlock(block);
}

void EncryptBuffer(const void* source, void* destination, std::size_t length) {
  ProcessCipher().EncryptBuffer(source, destination, length);
}

void DecryptBuffer(const void* source, void* destination, std::size_t length) {
  ProcessCipher().DecryptBuffer(source, destination, length);
}

}  // namespace vellum::exceptlog
