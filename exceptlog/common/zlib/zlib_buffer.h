// Whole-buffer compression over zlib: the report archive and the screenshot
// deflate what they produce; the module reader inflates the stored blocks it
// finds in module files.
//
// Inflation reads data that comes from files we did not write, so it is
// bounded: the output never grows beyond `output_limit` bytes, and a stream
// that would produce more fails with EZLibError instead of exhausting the
// address space of the host process.
//
// Truncated or corrupt streams. Two entry points, chosen by what the caller
// can do with half a result:
//  - DecompressBuf is strict: anything but a complete stream raises
//    EZLibError. The options stream of a stored block uses it, because a
//    property list cut short would load a silent mix of stored and default
//    settings; the reader falls back to the defaults instead.
//  - DecompressBufPartial hands back what was inflated up to the fault,
//    together with the fault's text. The debug data of a stored block uses
//    it: its line-table reader is bounds-checked, so a cut table only
//    resolves fewer addresses, and the reader writes the text to the
//    internal-error log. Going over the output limit still raises, since the
//    output would then be cut at an arbitrary place of our choosing.
// An empty input holds no zlib header and counts as truncated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/exception.h"

namespace vellum::exceptlog {

VELLUM_EXCEPTION_CLASS(EZLibError, Exception);

using Bytes = std::vector<std::uint8_t>;

// Stored blocks hold an options stream and line tables of a few megabytes at
// most; this leaves an order of magnitude of headroom.
inline constexpr std::size_t kDecompressLimit = 64 * 1024 * 1024;

// A zlib stream (header, deflate data at level 9, Adler-32 trailer).
Bytes CompressBuf(const void* data, std::size_t size);
// The bare deflate data at level 9, as a gzip member carries it: the same
// bytes CompressBuf produces between its header and its trailer.
Bytes DeflateRaw(const void* data, std::size_t size);

// Raises EZLibError for a truncated or corrupt stream and for output beyond
// `output_limit`. Bytes after the end of the stream are ignored.
Bytes DecompressBuf(const void* data, std::size_t size, std::size_t output_limit = kDecompressLimit);

struct PartialInflate {
  Bytes bytes;            // everything inflated before the stream ended or failed
  bool complete = false;  // the stream's end and its checksum were reached
  std::string error;      // why it is not complete; empty when it is
};

// Raises EZLibError only for output beyond `output_limit` and for zlib's own
// failures (memory); data faults are reported in the result.
PartialInflate DecompressBufPartial(const void* data, std::size_t size, std::size_t output_limit = kDecompressLimit);

}  // namespace vellum::exceptlog
