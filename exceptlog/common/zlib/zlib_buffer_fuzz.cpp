// Stored blocks reach DecompressBuf straight from module files. The first
// input byte picks an output limit, so that both sides of the limit are
// reached with small inputs; the rest is the stream. Whatever inflates is
// also compressed again and must come back unchanged.
#include <cstdlib>
#include <cstring>

#include "exceptlog/common/zlib/zlib_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t limit = std::size_t{1} << (data[0] % 21);  // 1 byte to 1 MiB
  const std::uint8_t* stream = data + 1;
  const std::size_t stream_size = size - 1;

  vellum::exceptlog::PartialInflate partial;
  try {
    partial = vellum::exceptlog::DecompressBufPartial(stream, stream_size, limit);
  } catch (const vellum::exceptlog::EZLibError&) {
    return 0;  // over the limit
  }
  if (partial.bytes.size() > limit) std::abort();
  if (partial.complete != partial.error.empty()) std::abort();

  try {
    const vellum::exceptlog::Bytes strict = vellum::exceptlog::DecompressBuf(stream, stream_size, limit);
    if (!partial.complete || strict != partial.bytes) std::abort();
  } catch (const vellum::exceptlog::EZLibError&) {
    if (partial.complete) std::abort();
  }

  const vellum::exceptlog::Bytes packed = vellum::exceptlog::CompressBuf(partial.bytes.data(), partial.bytes.size());
  if (vellum::exceptlog::DecompressBuf(packed.data(), packed.size(), limit) != partial.bytes) std::abort();
  return 0;
}
