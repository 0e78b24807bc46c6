#include "exceptlog/capture/callstack/pe_image.h"

#include <algorithm>

namespace vellum::exceptlog {

namespace {

constexpr std::uint16_t kDosSignature = 0x5A4D;     // "MZ"
constexpr std::uint32_t kNtSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t kOptionalHeader32 = 0x10B;
constexpr std::uint16_t kFileIsDll = 0x2000;
constexpr std::uint32_t kMaxSections = 96;
constexpr std::uint32_t kFileHeaderSize = 20;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kExportDirectorySize = 40;

// Offsets inside the 32-bit optional header.
constexpr std::uint32_t kSizeOfCode = 4;
constexpr std::uint32_t kBaseOfCode = 20;
constexpr std::uint32_t kSizeOfImage = 56;
constexpr std::uint32_t kNumberOfRvaAndSizes = 92;
constexpr std::uint32_t kDataDirectories = 96;

// Sum that answers nullopt instead of wrapping.
std::optional<std::uint32_t> Add(std::uint32_t a, std::uint32_t b) {
  if (a > UINT32_MAX - b) return std::nullopt;
  return a + b;
}

struct ExportDirectory {
  std::uint32_t number_of_functions = 0;
  std::uint32_t number_of_names = 0;
  std::uint32_t address_of_functions = 0;
  std::uint32_t address_of_names = 0;
  std::uint32_t address_of_ordinals = 0;
};

std::optional<ExportDirectory> ReadExportDirectory(const MemoryReader& memory, std::uint32_t address) {
  std::uint32_t raw[kExportDirectorySize / 4];
  if (!RangeFits(address, sizeof raw) || !memory.Read(address, raw, sizeof raw)) return std::nullopt;
  return ExportDirectory{raw[5], raw[6], raw[7], raw[8], raw[9]};
}

// How many `element_size` elements of an array at `rva` fit before `limit`.
std::uint32_t ElementsBefore(std::uint32_t rva, std::uint32_t limit, std::uint32_t element_size) {
  return rva >= limit ? 0 : (limit - rva) / element_size;
}

std::string ReadName(const MemoryReader& memory, std::uint32_t address) {
  char whole[kMaxExportNameLength];
  if (RangeFits(address, sizeof whole) && memory.Read(address, whole, sizeof whole)) {
    return std::string(whole, std::find(whole, whole + sizeof whole, '\0'));
  }
  std::string name;
  // Byte by byte: a name may end just before unreadable memory.
  for (std::uint32_t i = 0; i < kMaxExportNameLength; ++i) {
    const auto byte = Add(address, i) ? memory.ReadValue<char>(address + i) : std::nullopt;
    if (!byte || *byte == '\0') break;
    name.push_back(*byte);
  }
  return name;
}

std::uint32_t FollowSystemThunk(const MemoryReader& memory, std::uint32_t address) {
  std::uint8_t code[6];
  if (!RangeFits(address, sizeof code) || !memory.Read(address, code, sizeof code)) return address;
  if (code[0] != 0x68 || code[5] != 0xE9) return address;
  return static_cast<std::uint32_t>(code[1]) | static_cast<std::uint32_t>(code[2]) << 8 |
         static_cast<std::uint32_t>(code[3]) << 16 | static_cast<std::uint32_t>(code[4]) << 24;
}

}  // namespace

std::optional<PeLayout> ReadPeLayout(const MemoryReader& memory, std::uint32_t base) {
  const auto dos_magic = memory.ReadValue<std::uint16_t>(base);
  if (!dos_magic || *dos_magic != kDosSignature) return std::nullopt;
  const auto new_header = RangeFits(base, 0x40) ? memory.ReadValue<std::uint32_t>(base + 0x3C) : std::nullopt;
  if (!new_header) return std::nullopt;
  const auto nt = Add(base, *new_header);
  if (!nt || !RangeFits(*nt, 24 + kDataDirectories + 8)) return std::nullopt;
  const auto signature = memory.ReadValue<std::uint32_t>(*nt);
  if (!signature || *signature != kNtSignature) return std::nullopt;

  std::uint8_t file_header[kFileHeaderSize];
  if (!memory.Read(*nt + 4, file_header, sizeof file_header)) return std::nullopt;
  const std::uint32_t section_count = file_header[2] | file_header[3] << 8;
  const std::uint32_t optional_size = file_header[16] | file_header[17] << 8;
  const std::uint16_t characteristics = static_cast<std::uint16_t>(file_header[18] | file_header[19] << 8);

  const std::uint32_t optional = *nt + 24;
  std::uint8_t header[kDataDirectories + 8];
  if (optional_size < sizeof header || !memory.Read(optional, header, sizeof header)) return std::nullopt;
  auto field = [&header](std::uint32_t offset) {
    return static_cast<std::uint32_t>(header[offset]) | static_cast<std::uint32_t>(header[offset + 1]) << 8 |
           static_cast<std::uint32_t>(header[offset + 2]) << 16 | static_cast<std::uint32_t>(header[offset + 3]) << 24;
  };
  if ((header[0] | header[1] << 8) != kOptionalHeader32) return std::nullopt;

  PeLayout layout;
  layout.is_dll = (characteristics & kFileIsDll) != 0;
  layout.size_of_image = field(kSizeOfImage);
  const auto code_start = Add(base, field(kBaseOfCode));
  const auto code_end = code_start ? Add(*code_start, field(kSizeOfCode)) : std::nullopt;
  if (code_start && code_end) {
    layout.code_start = *code_start;
    layout.code_end = *code_end;
  }
  if (field(kNumberOfRvaAndSizes) >= 1) {
    layout.export_rva = field(kDataDirectories);
    layout.export_size = field(kDataDirectories + 4);
  }

  const auto sections = Add(optional, optional_size);
  if (!sections) return layout;
  for (std::uint32_t i = 0; i < std::min(section_count, kMaxSections); ++i) {
    std::uint32_t raw[kSectionHeaderSize / 4];
    const auto at = Add(*sections, i * kSectionHeaderSize);
    if (!at || !RangeFits(*at, sizeof raw) || !memory.Read(*at, raw, sizeof raw)) break;
    const std::uint32_t virtual_size = raw[2];
    const std::uint32_t start = raw[3];
    const std::uint32_t extent = virtual_size != 0 ? virtual_size : raw[4];
    const auto end = Add(start, extent);
    if (end) layout.sections.push_back(PeSection{start, *end});
  }
  return layout;
}

TRuzadaFunctionsList ReadExportedFunctions(const MemoryReader& memory, std::uint32_t base,
                                           const ExportReadOptions& options) {
  TRuzadaFunctionsList functions;
  const std::optional<PeLayout> layout = ReadPeLayout(memory, base);
  if (!layout || layout->export_rva == 0) return functions;
  const auto section = std::find_if(layout->sections.begin(), layout->sections.end(), [&](const PeSection& s) {
    return layout->export_rva >= s.start && layout->export_rva < s.end;
  });
  if (section == layout->sections.end()) return functions;
  const std::uint32_t limit = std::min(section->end, layout->size_of_image);

  const auto directory_address = Add(base, layout->export_rva);
  if (!directory_address) return functions;
  const std::optional<ExportDirectory> directory = ReadExportDirectory(memory, *directory_address);
  if (!directory) return functions;

  // Counts from the directory are believed only as far as the arrays fit in
  // the section that holds them.
  std::uint32_t count = std::min(directory->number_of_functions, directory->number_of_names);
  count = std::min(count, ElementsBefore(directory->address_of_names, limit, 4));
  count = std::min(count, ElementsBefore(directory->address_of_ordinals, limit, 2));
  const std::uint32_t function_slots =
      std::min(directory->number_of_functions, ElementsBefore(directory->address_of_functions, limit, 4));

  for (std::uint32_t i = 0; i < count; ++i) {
    const auto name_rva = memory.ReadValue<std::uint32_t>(base + directory->address_of_names + i * 4);
    const auto ordinal = memory.ReadValue<std::uint16_t>(base + directory->address_of_ordinals + i * 2);
    if (!name_rva || !ordinal) break;
    // A name outside the image (or at its headers, RVA 0) is no name.
    const auto name_address = Add(base, *name_rva);
    if (!name_address || *name_rva == 0 || *name_rva >= layout->size_of_image) continue;
    const std::string name = ReadName(memory, *name_address);
    if (name.empty()) continue;
    std::uint32_t table_address = 0;
    if (*ordinal < function_slots) {
      const auto function_rva = memory.ReadValue<std::uint32_t>(base + directory->address_of_functions + *ordinal * 4);
      if (function_rva && *function_rva != 0) table_address = base + *function_rva;
    }
    std::optional<std::uint32_t> address =
        options.lookup ? options.lookup(base, name, table_address) : std::optional<std::uint32_t>(table_address);
    if (!address || *address == 0) continue;
    if (options.system_thunks) address = FollowSystemThunk(memory, *address);
    functions.Add(TRuzadaFunctionInfo{name, *address,
                                      EstimateProcedureSize(memory, *address, layout->code_start, layout->code_end)});
  }
  functions.SortByAddress();
  return functions;
}

}  // namespace vellum::exceptlog
