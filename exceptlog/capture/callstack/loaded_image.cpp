#include "exceptlog/capture/callstack/loaded_image.h"

#include <algorithm>

#include "exceptlog/common/binary/little_endian.h"
#include "exceptlog/common/binary/pe_image.h"

namespace vellum::exceptlog {

namespace {

// Sections kept per module: real modules have a dozen or two.
constexpr std::size_t kMaxSections = 96;

// Sums that answer nullopt instead of wrapping.
std::optional<std::uint32_t> Add(std::uint32_t a, std::uint32_t b) {
  if (a > UINT32_MAX - b) return std::nullopt;
  return a + b;
}
std::optional<std::uint64_t> Add(std::uint64_t a, std::uint32_t b) {
  if (a > UINT64_MAX - b) return std::nullopt;
  return a + b;
}

// How many `element_size` elements of an array at `rva` fit before `limit`.
std::uint32_t ElementsBefore(std::uint32_t rva, std::uint32_t limit, std::uint32_t element_size) {
  return rva >= limit ? 0 : (limit - rva) / element_size;
}

std::uint64_t FollowSystemThunk(const MemoryReader& memory, std::uint64_t address) {
  std::uint8_t code[6];
  if (!RangeFits(address, sizeof code) || !memory.Read(address, code, sizeof code)) return address;
  if (code[0] != 0x68 || code[5] != 0xE9) return address;
  return LoadU32(code + 1);
}

PeLayout LayoutOf(const PeImage& image, std::uint64_t base) {
  PeLayout layout;
  layout.is_dll = image.IsDll();
  layout.size_of_image = image.SizeOfImage();
  const auto code_start = Add(base, image.BaseOfCode());
  const auto code_end = code_start ? Add(*code_start, image.SizeOfCode()) : std::nullopt;
  if (code_start && code_end) {
    layout.code_start = *code_start;
    layout.code_end = *code_end;
  }
  const PeDataDirectory exports = image.DataDirectory(kExportDirectory);
  layout.export_rva = exports.Rva;
  layout.export_size = exports.Size;
  const PeDataDirectory unwind = image.DataDirectory(kExceptionDirectory);
  layout.exception_rva = unwind.Rva;
  layout.exception_size = unwind.Size;
  for (std::size_t i = 0; i < std::min(image.Sections().size(), kMaxSections); ++i) {
    const PeSectionHeader& section = image.Sections()[i];
    const std::uint32_t extent = section.VirtualSize != 0 ? section.VirtualSize : section.RawSize;
    const auto end = Add(section.VirtualAddress, extent);
    if (end) layout.sections.push_back(PeSection{section.VirtualAddress, *end});
  }
  return layout;
}

// A header of the other width describes no module the process could have
// loaded: damaged or hostile, it is not believed.
std::optional<PeImage> ReadLoadedImage(const MemoryByteSource& source, ProcessBits bits) {
  std::optional<PeImage> image = PeImage::Read(source, PeImageForm::kLoaded);
  const PeFormat expected = bits == ProcessBits::k64 ? PeFormat::kPe32Plus : PeFormat::kPe32;
  if (image && image->Format() != expected) return std::nullopt;
  return image;
}

}  // namespace

std::optional<PeLayout> ReadPeLayout(const MemoryReader& memory, std::uint64_t base, ProcessBits bits) {
  const MemoryByteSource source(memory, base);
  const std::optional<PeImage> image = ReadLoadedImage(source, bits);
  if (!image) return std::nullopt;
  return LayoutOf(*image, base);
}

TRuzadaFunctionsList ReadExportedFunctions(const MemoryReader& memory, std::uint64_t base,
                                           const ExportReadOptions& options) {
  TRuzadaFunctionsList functions;
  const MemoryByteSource source(memory, base);
  const std::optional<PeImage> image = ReadLoadedImage(source, options.bits);
  if (!image) return functions;
  const PeLayout layout = LayoutOf(*image, base);
  if (layout.export_rva == 0) return functions;
  const auto section = std::find_if(layout.sections.begin(), layout.sections.end(), [&](const PeSection& s) {
    return layout.export_rva >= s.start && layout.export_rva < s.end;
  });
  if (section == layout.sections.end()) return functions;
  const std::uint32_t limit = std::min(section->end, layout.size_of_image);

  if (!Add(base, layout.export_rva)) return functions;
  const std::optional<PeExportDirectory> directory = image->ExportDirectory();
  if (!directory) return functions;

  // Counts from the directory are believed only as far as the arrays fit in
  // the section that holds them.
  std::uint32_t count = std::min(directory->NumberOfFunctions, directory->NumberOfNames);
  count = std::min(count, ElementsBefore(directory->AddressOfNames, limit, 4));
  count = std::min(count, ElementsBefore(directory->AddressOfNameOrdinals, limit, 2));
  const std::uint32_t function_slots =
      std::min(directory->NumberOfFunctions, ElementsBefore(directory->AddressOfFunctions, limit, 4));

  for (std::uint32_t i = 0; i < count; ++i) {
    const auto name_rva = image->U32AtRva(directory->AddressOfNames + i * 4);
    const auto ordinal = image->U16AtRva(directory->AddressOfNameOrdinals + i * 2);
    if (!name_rva || !ordinal) break;
    // A name outside the image (or at its headers, RVA 0) is no name.
    if (!Add(base, *name_rva) || *name_rva == 0 || *name_rva >= layout.size_of_image) continue;
    const std::string name = image->CStringAtRva(*name_rva, kMaxExportNameLength);
    if (name.empty()) continue;
    std::uint64_t table_address = 0;
    if (*ordinal < function_slots) {
      const auto function_rva = image->U32AtRva(directory->AddressOfFunctions + *ordinal * 4);
      if (function_rva && *function_rva != 0) table_address = base + *function_rva;
    }
    std::optional<std::uint64_t> address =
        options.lookup ? options.lookup(base, name, table_address) : std::optional<std::uint64_t>(table_address);
    if (!address || *address == 0) continue;
    if (options.system_thunks && options.bits == ProcessBits::k32) address = FollowSystemThunk(memory, *address);
    functions.Add(TRuzadaFunctionInfo{name, *address,
                                      EstimateProcedureSize(memory, *address, layout.code_start, layout.code_end)});
  }
  functions.SortByAddress();
  return functions;
}

}  // namespace vellum::exceptlog
