#include "exceptlog/common/zlib/zlib_buffer.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace vellum::exceptlog {
namespace {

constexpr int kLevel = 9;
constexpr int kZlibWindowBits = MAX_WBITS;  // with zlib header and Adler-32
constexpr int kRawWindowBits = -MAX_WBITS;  // bare deflate data
constexpr std::size_t kGrowthStep = 256;
constexpr std::size_t kMaxChunk = std::numeric_limits<uInt>::max();

[[noreturn]] void RaiseZLibError(int code) {
  throw EZLibError(zError(code));
}

// zlib counts in uInt, which is 32 bits even where size_t is 64: feed and
// drain in pieces no larger than that.
class Window {
 public:
  Window(const void* data, std::size_t size) : next_(static_cast<const Bytef*>(data)), left_(size) {}
  void Refill(z_stream& z) {
    if (z.avail_in != 0 || left_ == 0) return;
    const std::size_t piece = std::min(left_, kMaxChunk);
    z.next_in = const_cast<Bytef*>(next_);  // zlib 1.2 declares next_in non-const
    z.avail_in = static_cast<uInt>(piece);
    next_ += piece;
    left_ -= piece;
  }
  bool Exhausted(const z_stream& z) const { return left_ == 0 && z.avail_in == 0; }

 private:
  const Bytef* next_;
  std::size_t left_;
};

void OfferOutput(z_stream& z, Bytes& out, std::size_t produced) {
  z.next_out = out.data() + produced;
  z.avail_out = static_cast<uInt>(std::min(out.size() - produced, kMaxChunk));
}

class DeflateStream {
 public:
  explicit DeflateStream(int window_bits) {
    const int result = deflateInit2(&z_, kLevel, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY);
    if (result != Z_OK) RaiseZLibError(result);
  }
  ~DeflateStream() { deflateEnd(&z_); }
  DeflateStream(const DeflateStream&) = delete;
  DeflateStream& operator=(const DeflateStream&) = delete;
  z_stream& get() { return z_; }

 private:
  z_stream z_{};
};

class InflateStream {
 public:
  InflateStream() {
    const int result = inflateInit(&z_);
    if (result != Z_OK) RaiseZLibError(result);
  }
  ~InflateStream() { inflateEnd(&z_); }
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;
  z_stream& get() { return z_; }

 private:
  z_stream z_{};
};

Bytes Deflate(const void* data, std::size_t size, int window_bits) {
  DeflateStream stream(window_bits);
  z_stream& z = stream.get();
  Window input(data, size);

  // deflateBound is exact enough that one buffer almost always suffices; it
  // takes a uLong, which is 32 bits on Windows.
  const std::size_t bound =
      size <= std::numeric_limits<uLong>::max() ? deflateBound(&z, static_cast<uLong>(size)) : size + size / 1000 + 64;
  Bytes out(std::max(bound, kGrowthStep));
  std::size_t produced = 0;
  for (;;) {
    input.Refill(z);
    if (produced == out.size()) out.resize(out.size() + std::max(out.size() / 2, kGrowthStep));
    OfferOutput(z, out, produced);
    const uInt offered = z.avail_out;
    const int result = deflate(&z, input.Exhausted(z) ? Z_FINISH : Z_NO_FLUSH);
    produced += offered - z.avail_out;
    if (result == Z_STREAM_END) break;
    // Z_BUF_ERROR only says that this call could make no progress; the
    // loop gives it more room or more input.
    if (result != Z_OK && result != Z_BUF_ERROR) RaiseZLibError(result);
  }
  out.resize(produced);
  return out;
}

}  // namespace

Bytes CompressBuf(const void* data, std::size_t size) {
  return Deflate(data, size, kZlibWindowBits);
}

Bytes DeflateRaw(const void* data, std::size_t size) {
  return Deflate(data, size, kRawWindowBits);
}

PartialInflate DecompressBufPartial(const void* data, std::size_t size, std::size_t output_limit) {
  InflateStream stream;
  z_stream& z = stream.get();
  Window input(data, size);

  // The buffer may reach one byte past the limit: that byte is how a stream
  // that would exceed the limit is told apart from one that ends on it.
  const std::size_t capacity = output_limit < std::numeric_limits<std::size_t>::max() ? output_limit + 1 : output_limit;
  // Start at the input's size rounded up to whole 256-byte steps, then
  // double: growing by a fixed step would copy the output quadratically for
  // a stream that inflates a thousandfold.
  const std::size_t first =
      std::max((std::min(size, capacity) + kGrowthStep - 1) / kGrowthStep, std::size_t{1}) * kGrowthStep;

  PartialInflate result;
  Bytes& out = result.bytes;
  out.resize(std::min(first, capacity));
  std::size_t produced = 0;
  for (;;) {
    input.Refill(z);
    if (produced == out.size()) {
      if (produced > output_limit) break;
      out.resize(std::min(capacity, out.size() * 2));
    }
    OfferOutput(z, out, produced);
    const uInt offered = z.avail_out;
    const int code = inflate(&z, Z_NO_FLUSH);
    produced += offered - z.avail_out;
    if (produced > output_limit) break;
    if (code == Z_STREAM_END) {
      result.complete = true;
      break;
    }
    if (code == Z_OK) continue;
    if (code == Z_BUF_ERROR && z.avail_out == 0) continue;  // wants more room
    if (code == Z_BUF_ERROR && input.Exhausted(z)) {
      result.error = "unexpected end of compressed data";
      break;
    }
    if (code == Z_DATA_ERROR) {
      result.error = std::string(zError(code)) + (z.msg ? std::string(": ") + z.msg : std::string());
      break;
    }
    if (code == Z_NEED_DICT) {
      result.error = zError(code);
      break;
    }
    RaiseZLibError(code);  // memory or a broken stream state: not the data's fault
  }
  if (produced > output_limit) {
    throw EZLibError("decompressed data exceeds the limit of " + std::to_string(output_limit) + " bytes");
  }
  out.resize(produced);
  out.shrink_to_fit();
  return result;
}

Bytes DecompressBuf(const void* data, std::size_t size, std::size_t output_limit) {
  PartialInflate result = DecompressBufPartial(data, size, output_limit);
  if (!result.complete) throw EZLibError(result.error);
  return std::move(result.bytes);
}

}  // namespace vellum::exceptlog
