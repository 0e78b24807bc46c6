#include "exceptlog/common/binary/pe_file.h"

#include <algorithm>
#include <cctype>

#include "exceptlog/common/binary/byte_cursor.h"
#include "exceptlog/common/binary/little_endian.h"

namespace vellum::exceptlog {
namespace {

// Resource trees are three levels deep (type, name, language).
constexpr int kResourceLevels = 3;
constexpr std::uint32_t kHighBit = 0x80000000u;

PeImage ReadFileHeaders(const ByteSource& source) {
  std::string problem;
  std::optional<PeImage> image = PeImage::Read(source, PeImageForm::kFile, &problem);
  if (!image) throw EPeFormatError(problem);
  // The tools read x86 code (export sizes, frame rules) and DWARF of the
  // two x86 compilers; a machine that does not go with its header's format
  // is damage.
  const std::uint16_t expected = image->IsPe32Plus() ? kMachineAmd64 : kMachineI386;
  if (image->Machine() != expected) {
    throw EPeFormatError("not an x86 or x86-64 PE file (" + std::string(PeFormatName(image->Format())) + " for " +
                         PeMachineName(image->Machine()) + ")");
  }
  return *image;
}

// A field of a structure inside `bytes`; EPeFormatError when it is not all there.
using FieldCursor = ByteCursor<EPeFormatError>;
std::uint16_t Field16(std::span<const std::uint8_t> bytes, std::uint64_t at) {
  return FieldCursor(bytes, at).U16();
}
bool Fits(std::span<const std::uint8_t> bytes, std::uint64_t at, std::uint64_t count) {
  return at <= bytes.size() && count <= bytes.size() - at;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

}  // namespace

PeFile::PeFile(std::vector<std::uint8_t> file)
    : file_(std::move(file)), source_(file_), image_(ReadFileHeaders(source_)) {}

std::span<const std::uint8_t> PeFile::SectionData(const PeSectionHeader& section) const {
  if (section.RawOffset >= file_.size()) return {};
  const std::uint64_t size = std::min<std::uint64_t>(PeImage::FileDataSize(section), file_.size() - section.RawOffset);
  return std::span<const std::uint8_t>(file_).subspan(section.RawOffset, static_cast<std::size_t>(size));
}

std::span<const std::uint8_t> PeFile::BytesAt(std::uint32_t rva) const {
  const PeSectionHeader* section = SectionAt(rva);
  if (section == nullptr) return {};
  const auto data = SectionData(*section);
  const std::uint32_t offset = rva - section->VirtualAddress;
  return offset < data.size() ? data.subspan(offset) : std::span<const std::uint8_t>{};
}

std::optional<std::span<const std::uint8_t>> PeFile::FindResource(std::uint16_t type, std::string_view name) const {
  const std::optional<PeResourceEntry> entry = FindResourceEntry(type, name);
  if (!entry) return std::nullopt;
  return BytesAt(entry->DataRva).first(entry->Size);
}

std::optional<PeResourceEntry> PeFile::FindResourceEntry(std::uint16_t type, std::string_view name) const {
  const PeDataDirectory directory = DataDirectory(kResourceDirectory);
  if (directory.Rva == 0) return std::nullopt;
  const auto tree = BytesAt(directory.Rva);

  // The entries of the directory at `offset`: (name or id, target) pairs.
  const auto find_entry = [&](std::uint32_t offset, bool by_name, std::uint16_t id,
                              std::string_view wanted) -> std::optional<std::uint32_t> {
    const std::uint32_t named = Field16(tree, std::uint64_t{offset} + 12);
    const std::uint32_t ids = Field16(tree, std::uint64_t{offset} + 14);
    for (std::uint32_t i = 0; i < named + ids; ++i) {
      FieldCursor entry(tree, std::uint64_t{offset} + 16 + 8 * std::uint64_t{i});
      const std::uint32_t name_field = entry.U32();
      const std::uint32_t target = entry.U32();
      if (!by_name) {
        // Any language will do: the first entry.
        if (id == 0 || ((name_field & kHighBit) == 0 && name_field == id)) return target;
        continue;
      }
      if ((name_field & kHighBit) == 0) continue;
      // A counted UTF-16 string; only ASCII names can match.
      FieldCursor text(tree, name_field & ~kHighBit);
      const std::uint16_t length = text.U16();
      const auto characters = text.Take(std::uint64_t{length} * 2);
      std::string ascii;
      for (std::uint16_t k = 0; k < length; ++k) {
        const std::uint16_t c = LoadU16(&characters[2 * std::size_t{k}]);
        ascii.push_back(c < 0x80 ? static_cast<char>(c) : '?');
      }
      if (SameTextIgnoringCase(ascii, wanted)) return target;
    }
    return std::nullopt;
  };

  try {
    std::uint32_t offset = 0;
    for (int level = 0; level < kResourceLevels; ++level) {
      const auto target = level == 0   ? find_entry(offset, false, type, {})
                          : level == 1 ? find_entry(offset, true, 0, name)
                                       : find_entry(offset, false, 0, {});
      if (!target) return std::nullopt;
      const bool is_directory = (*target & kHighBit) != 0;
      offset = *target & ~kHighBit;
      // Each level must lead one level down; a loop or a short tree is damage.
      if (is_directory != (level < kResourceLevels - 1)) return std::nullopt;
    }
    FieldCursor data_entry(tree, offset);
    const std::uint32_t data_rva = data_entry.U32();
    const std::uint32_t size = data_entry.U32();
    if (BytesAt(data_rva).size() < size) return std::nullopt;
    return PeResourceEntry{directory.Rva + offset, data_rva, size};
  } catch (const EPeFormatError&) {
    return std::nullopt;
  }
}

std::vector<PeExport> PeFile::Exports() const {
  std::vector<PeExport> exports;
  const PeDataDirectory directory = DataDirectory(kExportDirectory);
  const std::optional<PeExportDirectory> table = image_.ExportDirectory();
  if (!table) return exports;
  // Each array is read as far as its section's file data goes.
  const auto functions = BytesAt(table->AddressOfFunctions);
  const auto names = BytesAt(table->AddressOfNames);
  const auto ordinals = BytesAt(table->AddressOfNameOrdinals);
  for (std::uint32_t i = 0; i < table->NumberOfNames; ++i) {
    if (!Fits(names, 4 * std::uint64_t{i}, 4) || !Fits(ordinals, 2 * std::uint64_t{i}, 2)) break;
    const std::uint16_t ordinal = LoadU16(&ordinals[2 * std::size_t{i}]);
    if (ordinal >= table->NumberOfFunctions || !Fits(functions, 4 * std::uint64_t{ordinal}, 4)) continue;
    const std::uint32_t rva = LoadU32(&functions[4 * std::size_t{ordinal}]);
    // A forwarder's address points into the export directory itself.
    if (rva >= directory.Rva && std::uint64_t{rva} < std::uint64_t{directory.Rva} + directory.Size) continue;
    exports.push_back({image_.CStringAtRva(LoadU32(&names[4 * std::size_t{i}])), rva});
  }
  return exports;
}

}  // namespace vellum::exceptlog
