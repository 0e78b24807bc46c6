#include "band/doctor/module_bits.h"

#include "exceptlog/common/binary/byte_source.h"
#include "exceptlog/common/binary/pe_image.h"

namespace vellum::band {

std::optional<Bits> ModuleBits(std::span<const std::uint8_t> file_start) {
  const exceptlog::BufferByteSource source(file_start);
  const auto image = exceptlog::PeImage::Read(source, exceptlog::PeImageForm::kFile);
  if (!image) return std::nullopt;
  // The machine, not the optional header's form: the loader refuses a module
  // of the other machine whatever else its headers say.
  switch (image->Machine()) {
    case exceptlog::kMachineI386: return Bits::k32;
    case exceptlog::kMachineAmd64: return Bits::k64;
    default: return std::nullopt;
  }
}

}  // namespace vellum::band
