#include "exceptlog/common/codec/md5.h"

#include <cstring>

#include "exceptlog/common/binary/little_endian.h"

namespace vellum::exceptlog {
namespace {

// Per-step shift amounts and sine-derived constants of RFC 1321, section 3.4.
constexpr std::uint8_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                     5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                     4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                     6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr std::size_t kBlockSize = 64;

std::uint32_t RotateLeft(std::uint32_t value, unsigned count) {
  return (value << count) | (value >> (32 - count));
}

void ProcessBlock(std::uint32_t state[4], const std::uint8_t* block) {
  std::uint32_t words[16];
  for (int i = 0; i < 16; ++i) words[i] = exceptlog::LoadU32(block + 4 * i);
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int step = 0; step < 64; ++step) {
    std::uint32_t mixed;
    int word;
    switch (step / 16) {
      case 0:
        mixed = (b & c) | (~b & d);
        word = step;
        break;
      case 1:
        mixed = (d & b) | (~d & c);
        word = (5 * step + 1) % 16;
        break;
      case 2:
        mixed = b ^ c ^ d;
        word = (3 * step + 5) % 16;
        break;
      default:
        mixed = c ^ (b | ~d);
        word = (7 * step) % 16;
        break;
    }
    const std::uint32_t next = b + RotateLeft(a + mixed + kSine[step] + words[word], kShift[step]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

Md5Digest MD5Digest(const void* data, std::size_t size) {
  std::uint32_t state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::size_t whole = size - size % kBlockSize;
  for (std::size_t offset = 0; offset < whole; offset += kBlockSize) ProcessBlock(state, bytes + offset);

  // Padding: 0x80, zeros up to 56 bytes modulo 64, then the bit length
  // (modulo 2^64) in little-endian order; one or two final blocks.
  std::uint8_t tail[2 * kBlockSize] = {};
  const std::size_t left = size - whole;
  if (left != 0) std::memcpy(tail, bytes + whole, left);
  tail[left] = 0x80;
  const std::size_t tail_size = left < 56 ? kBlockSize : 2 * kBlockSize;
  const std::uint64_t bits = static_cast<std::uint64_t>(size) * 8;
  exceptlog::StoreU64(tail + tail_size - 8, bits);
  for (std::size_t offset = 0; offset < tail_size; offset += kBlockSize) ProcessBlock(state, tail + offset);

  Md5Digest digest;
  for (int i = 0; i < 4; ++i) exceptlog::StoreU32(digest.data() + 4 * i, state[i]);
  return digest;
}

}  // namespace vellum::exceptlog
