#include "tools/eldata/pe_image.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace vellum::eldata {
namespace {

constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kOptionalMagicPe32 = 0x010B;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kCoffSymbolSize = 18;
// Resource trees are three levels deep (type, name, language).
constexpr int kResourceLevels = 3;

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool Has(std::uint64_t at, std::uint64_t count) const { return at <= bytes_.size() && count <= bytes_.size() - at; }
  void Require(std::uint64_t at, std::uint64_t count, const char* what) const {
    if (!Has(at, count)) throw EPeFormatError(std::string("PE file is cut short in ") + what);
  }
  std::uint16_t U16(std::uint64_t at) const {
    Require(at, 2, "a header");
    return static_cast<std::uint16_t>(bytes_[at] | bytes_[at + 1] << 8);
  }
  std::uint32_t U32(std::uint64_t at) const {
    Require(at, 4, "a header");
    return static_cast<std::uint32_t>(bytes_[at]) | static_cast<std::uint32_t>(bytes_[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes_[at + 2]) << 16 | static_cast<std::uint32_t>(bytes_[at + 3]) << 24;
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

}  // namespace

PeImage::PeImage(std::vector<std::uint8_t> file) : file_(std::move(file)) {
  const Reader in(file_);
  if (!in.Has(0, 0x40) || file_[0] != 'M' || file_[1] != 'Z') throw EPeFormatError("not a PE file (no MZ header)");
  const std::uint32_t pe = in.U32(0x3C);
  if (!in.Has(pe, 24) || in.U32(pe) != 0x00004550) throw EPeFormatError("not a PE file (no PE signature)");
  if (in.U16(pe + 4) != kMachineI386) throw EPeFormatError("not a 32-bit x86 PE file");
  const std::uint16_t section_count = in.U16(pe + 6);
  const std::uint32_t symbol_table = in.U32(pe + 12);
  const std::uint32_t symbol_count = in.U32(pe + 16);
  const std::uint16_t optional_size = in.U16(pe + 20);
  characteristics_ = in.U16(pe + 22);
  const std::uint64_t optional = std::uint64_t{pe} + 24;
  in.Require(optional, optional_size, "the optional header");
  if (optional_size < 96 || in.U16(optional) != kOptionalMagicPe32) throw EPeFormatError("not a PE32 optional header");
  image_base_ = in.U32(optional + 28);
  size_of_image_ = in.U32(optional + 56);
  const std::uint32_t directory_count = std::min<std::uint32_t>(in.U32(optional + 92), (optional_size - 96) / 8);
  for (std::uint32_t i = 0; i < std::min<std::uint32_t>(directory_count, 16); ++i) {
    directories_.push_back({in.U32(optional + 96 + 8 * i), in.U32(optional + 100 + 8 * i)});
  }

  const std::uint64_t headers = optional + optional_size;
  in.Require(headers, std::uint64_t{section_count} * kSectionHeaderSize, "the section table");
  // Names longer than eight characters ("/4") point into the string table
  // that follows the COFF symbols.
  const std::uint64_t strings = std::uint64_t{symbol_table} + std::uint64_t{symbol_count} * kCoffSymbolSize;
  for (std::uint16_t i = 0; i < section_count; ++i) {
    const std::uint64_t at = headers + std::uint64_t{i} * kSectionHeaderSize;
    PeSection section;
    const char* raw_name = reinterpret_cast<const char*>(file_.data() + at);
    section.Name.assign(raw_name, strnlen(raw_name, 8));
    if (section.Name.size() > 1 && section.Name[0] == '/' && symbol_table != 0) {
      std::uint64_t offset = 0;
      for (std::size_t k = 1; k < section.Name.size() && std::isdigit(static_cast<unsigned char>(section.Name[k]));
           ++k) {
        offset = offset * 10 + static_cast<unsigned>(section.Name[k] - '0');
      }
      const std::uint64_t name_at = strings + offset;
      if (in.Has(name_at, 1)) {
        const char* long_name = reinterpret_cast<const char*>(file_.data() + name_at);
        section.Name.assign(long_name, strnlen(long_name, std::min<std::uint64_t>(file_.size() - name_at, 256)));
      }
    }
    section.VirtualSize = in.U32(at + 8);
    section.VirtualAddress = in.U32(at + 12);
    section.RawSize = in.U32(at + 16);
    section.RawOffset = in.U32(at + 20);
    section.Characteristics = in.U32(at + 36);
    sections_.push_back(std::move(section));
  }
}

const PeSection* PeImage::FindSection(std::string_view name) const {
  for (const PeSection& section : sections_) {
    if (section.Name == name) return &section;
  }
  return nullptr;
}

const PeSection* PeImage::SectionAt(std::uint32_t rva) const {
  for (const PeSection& section : sections_) {
    const std::uint32_t size = std::max(section.VirtualSize, section.RawSize);
    if (rva >= section.VirtualAddress && std::uint64_t{rva} < std::uint64_t{section.VirtualAddress} + size) {
      return &section;
    }
  }
  return nullptr;
}

std::span<const std::uint8_t> PeImage::SectionData(const PeSection& section) const {
  std::uint64_t size = section.RawSize;
  if (section.VirtualSize != 0) size = std::min<std::uint64_t>(size, section.VirtualSize);
  if (section.RawOffset >= file_.size()) return {};
  size = std::min<std::uint64_t>(size, file_.size() - section.RawOffset);
  return std::span<const std::uint8_t>(file_).subspan(section.RawOffset, static_cast<std::size_t>(size));
}

std::span<const std::uint8_t> PeImage::BytesAt(std::uint32_t rva) const {
  const PeSection* section = SectionAt(rva);
  if (section == nullptr) return {};
  const auto data = SectionData(*section);
  const std::uint32_t offset = rva - section->VirtualAddress;
  return offset < data.size() ? data.subspan(offset) : std::span<const std::uint8_t>{};
}

bool PeImage::ReadRva(std::uint32_t rva, std::span<std::uint8_t> out) const {
  const auto data = BytesAt(rva);
  if (data.size() < out.size()) return false;
  std::copy_n(data.begin(), out.size(), out.begin());
  return true;
}

PeImage::Directory PeImage::DataDirectory(int index) const {
  return index >= 0 && static_cast<std::size_t>(index) < directories_.size() ? directories_[index] : Directory{};
}

std::optional<std::span<const std::uint8_t>> PeImage::FindResource(std::uint16_t type, std::string_view name) const {
  const Directory directory = DataDirectory(kResourceDirectory);
  if (directory.Rva == 0) return std::nullopt;
  const auto tree = BytesAt(directory.Rva);
  const Reader in(tree);

  // The entries of the directory at `offset`: (name or id, target) pairs.
  const auto find_entry = [&](std::uint32_t offset, bool by_name, std::uint16_t id,
                              std::string_view wanted) -> std::optional<std::uint32_t> {
    const std::uint32_t named = in.U16(std::uint64_t{offset} + 12);
    const std::uint32_t ids = in.U16(std::uint64_t{offset} + 14);
    for (std::uint32_t i = 0; i < named + ids; ++i) {
      const std::uint64_t entry = std::uint64_t{offset} + 16 + 8 * std::uint64_t{i};
      const std::uint32_t name_field = in.U32(entry);
      const std::uint32_t target = in.U32(entry + 4);
      if (!by_name) {
        // Any language will do: the first entry.
        if (id == 0 || ((name_field & 0x80000000u) == 0 && name_field == id)) return target;
        continue;
      }
      if ((name_field & 0x80000000u) == 0) continue;
      const std::uint32_t text = name_field & 0x7FFFFFFFu;
      const std::uint16_t length = in.U16(text);
      in.Require(std::uint64_t{text} + 2, std::uint64_t{length} * 2, "a resource name");
      std::string ascii;
      for (std::uint16_t k = 0; k < length; ++k) {
        const std::uint16_t c = in.U16(std::uint64_t{text} + 2 + 2 * k);
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
      const bool is_directory = (*target & 0x80000000u) != 0;
      offset = *target & 0x7FFFFFFFu;
      // Each level must lead one level down; a loop or a short tree is damage.
      if (is_directory != (level < kResourceLevels - 1)) return std::nullopt;
    }
    const std::uint32_t data_rva = in.U32(offset);
    const std::uint32_t size = in.U32(std::uint64_t{offset} + 4);
    const auto data = BytesAt(data_rva);
    if (data.size() < size) return std::nullopt;
    return data.first(size);
  } catch (const EPeFormatError&) {
    return std::nullopt;
  }
}

std::vector<PeExport> PeImage::Exports() const {
  std::vector<PeExport> exports;
  const Directory directory = DataDirectory(kExportDirectory);
  if (directory.Rva == 0) return exports;
  const auto table = BytesAt(directory.Rva);
  const Reader in(table);
  if (!in.Has(0, 40)) return exports;
  const std::uint32_t function_count = in.U32(20);
  const std::uint32_t name_count = in.U32(24);
  const auto functions = BytesAt(in.U32(28));
  const auto names = BytesAt(in.U32(32));
  const auto ordinals = BytesAt(in.U32(36));
  const Reader f(functions), n(names), o(ordinals);
  for (std::uint32_t i = 0; i < name_count; ++i) {
    if (!n.Has(4 * std::uint64_t{i}, 4) || !o.Has(2 * std::uint64_t{i}, 2)) break;
    const std::uint16_t ordinal = o.U16(2 * std::uint64_t{i});
    if (ordinal >= function_count || !f.Has(4 * std::uint64_t{ordinal}, 4)) continue;
    const std::uint32_t rva = f.U32(4 * std::uint64_t{ordinal});
    // A forwarder's address points into the export directory itself.
    if (rva >= directory.Rva && std::uint64_t{rva} < std::uint64_t{directory.Rva} + directory.Size) continue;
    const auto text = BytesAt(n.U32(4 * std::uint64_t{i}));
    const std::size_t length =
        std::find(text.begin(), text.begin() + std::min<std::size_t>(text.size(), 256), 0) - text.begin();
    exports.push_back({std::string(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length)), rva});
  }
  return exports;
}

}  // namespace vellum::eldata
