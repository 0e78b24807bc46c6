#include "exceptlog/common/binary/pe_image.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "exceptlog/common/binary/little_endian.h"

namespace vellum::exceptlog {
namespace {

constexpr std::uint16_t kDosSignature = 0x5A4D;     // "MZ"
constexpr std::uint32_t kNtSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t kOptionalHeaderPe32 = 0x010B;
constexpr std::uint16_t kOptionalHeaderPe32Plus = 0x020B;
constexpr std::size_t kDosHeaderSize = 0x40;
constexpr std::size_t kNewHeaderOffsetField = 0x3C;
constexpr std::size_t kNtHeadersSize = 24;  // signature and file header
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kCoffSymbolSize = 18;
constexpr std::size_t kExportDirectorySize = 40;
constexpr std::uint32_t kMaxDataDirectories = 16;

// Offsets inside the optional header; the data directories follow its fixed
// part. PE32+ has no BaseOfData, so its 8-byte base starts where that was,
// and its wider stack and heap sizes move the directory count back by 16.
constexpr std::size_t kMagic = 0;
constexpr std::size_t kSizeOfCode = 4;
constexpr std::size_t kBaseOfCode = 20;
constexpr std::size_t kSizeOfImage = 56;

struct OptionalLayout {
  std::size_t ImageBase;
  std::size_t NumberOfRvaAndSizes;
  std::size_t FixedSize;
};
constexpr OptionalLayout kPe32Layout{28, 92, 96};
constexpr OptionalLayout kPe32PlusLayout{24, 108, 112};

// A section name "/123" stands for the text at offset 123 of the COFF string
// table, which follows the symbols; only a file carries that table.
std::optional<std::uint64_t> LongNameOffset(const std::string& name) {
  if (name.size() < 2 || name[0] != '/') return std::nullopt;
  std::uint64_t offset = 0;
  for (std::size_t k = 1; k < name.size() && std::isdigit(static_cast<unsigned char>(name[k])); ++k) {
    offset = offset * 10 + static_cast<unsigned>(name[k] - '0');
  }
  return offset;
}

}  // namespace

const char* PeFormatName(PeFormat format) {
  return format == PeFormat::kPe32Plus ? "PE32+" : "PE32";
}

std::string PeMachineName(std::uint16_t machine) {
  if (machine == kMachineI386) return "i386";
  if (machine == kMachineAmd64) return "x86-64";
  char text[16];
  std::snprintf(text, sizeof text, "machine 0x%04X", machine);
  return text;
}

std::optional<PeImage> PeImage::Read(const ByteSource& source, PeImageForm form, std::string* problem) {
  PeImage image(source, form);
  if (const auto failure = image.ReadHeaders()) {
    if (problem != nullptr) *problem = *failure;
    return std::nullopt;
  }
  return image;
}

std::optional<std::string> PeImage::ReadHeaders() {
  const ByteSource& in = *source_;
  std::uint8_t dos[kDosHeaderSize];
  if (!in.Read(0, dos) || LoadU16(dos) != kDosSignature) return "not a PE file (no MZ header)";
  const std::uint64_t nt = LoadU32(dos + kNewHeaderOffsetField);
  std::uint8_t headers[kNtHeadersSize];
  if (!in.Read(nt, headers) || LoadU32(headers) != kNtSignature) return "not a PE file (no PE signature)";
  machine_ = LoadU16(headers + 4);
  const std::uint16_t section_count = LoadU16(headers + 6);
  const std::uint32_t symbol_table = LoadU32(headers + 12);
  const std::uint32_t symbol_count = LoadU32(headers + 16);
  const std::uint16_t optional_size = LoadU16(headers + 20);
  characteristics_ = LoadU16(headers + 22);

  // Whole: the data directories are inside it, and the section table
  // starts where it ends.
  const std::uint64_t optional_at = nt + kNtHeadersSize;
  std::vector<std::uint8_t> optional(optional_size);
  if (!in.Read(optional_at, optional)) return "PE file is cut short in the optional header";
  const std::uint16_t magic = optional_size >= 2 ? LoadU16(&optional[kMagic]) : 0;
  if (magic != kOptionalHeaderPe32 && magic != kOptionalHeaderPe32Plus) {
    return "not a PE32 or PE32+ optional header";
  }
  format_ = magic == kOptionalHeaderPe32Plus ? PeFormat::kPe32Plus : PeFormat::kPe32;
  const OptionalLayout& layout = IsPe32Plus() ? kPe32PlusLayout : kPe32Layout;
  if (optional_size < layout.FixedSize) return std::string("optional header too short for ") + PeFormatName(format_);
  size_of_code_ = LoadU32(&optional[kSizeOfCode]);
  base_of_code_ = LoadU32(&optional[kBaseOfCode]);
  image_base_ = IsPe32Plus() ? LoadU64(&optional[layout.ImageBase]) : LoadU32(&optional[layout.ImageBase]);
  size_of_image_ = LoadU32(&optional[kSizeOfImage]);
  const std::uint32_t directory_count =
      std::min({LoadU32(&optional[layout.NumberOfRvaAndSizes]),
                static_cast<std::uint32_t>((optional_size - layout.FixedSize) / 8), kMaxDataDirectories});
  for (std::uint32_t i = 0; i < directory_count; ++i) {
    const std::uint8_t* entry = &optional[layout.FixedSize + 8 * i];
    directories_.push_back({LoadU32(entry), LoadU32(entry + 4)});
  }

  const std::uint64_t table = optional_at + optional_size;
  const std::uint64_t strings = std::uint64_t{symbol_table} + std::uint64_t{symbol_count} * kCoffSymbolSize;
  for (std::uint16_t i = 0; i < section_count; ++i) {
    std::uint8_t raw[kSectionHeaderSize];
    if (!in.Read(table + std::uint64_t{i} * kSectionHeaderSize, raw))
      return "PE file is cut short in the section table";
    PeSectionHeader section;
    section.Name.assign(reinterpret_cast<const char*>(raw), std::find(raw, raw + 8, 0) - raw);
    const auto long_name = LongNameOffset(section.Name);
    std::uint8_t first;
    if (form_ == PeImageForm::kFile && long_name && symbol_table != 0 &&
        in.Read(strings + *long_name, std::span(&first, 1))) {
      section.Name = in.CString(strings + *long_name, kMaxPeNameLength);
    }
    section.VirtualSize = LoadU32(raw + 8);
    section.VirtualAddress = LoadU32(raw + 12);
    section.RawSize = LoadU32(raw + 16);
    section.RawOffset = LoadU32(raw + 20);
    section.Characteristics = LoadU32(raw + 36);
    sections_.push_back(std::move(section));
  }
  return std::nullopt;
}

PeDataDirectory PeImage::DataDirectory(int index) const {
  return index >= 0 && static_cast<std::size_t>(index) < directories_.size() ? directories_[index] : PeDataDirectory{};
}

const PeSectionHeader* PeImage::FindSection(std::string_view name) const {
  for (const PeSectionHeader& section : sections_) {
    if (section.Name == name) return &section;
  }
  return nullptr;
}

const PeSectionHeader* PeImage::SectionAt(std::uint32_t rva) const {
  for (const PeSectionHeader& section : sections_) {
    const std::uint32_t size = std::max(section.VirtualSize, section.RawSize);
    if (rva >= section.VirtualAddress && std::uint64_t{rva} < std::uint64_t{section.VirtualAddress} + size) {
      return &section;
    }
  }
  return nullptr;
}

std::uint64_t PeImage::FileDataSize(const PeSectionHeader& section) {
  std::uint64_t size = section.RawSize;
  if (section.VirtualSize != 0) size = std::min<std::uint64_t>(size, section.VirtualSize);
  return size;
}

ByteSourceWindow PeImage::At(std::uint32_t rva) const {
  if (form_ == PeImageForm::kLoaded) return ByteSourceWindow(*source_, rva, (std::uint64_t{1} << 32) - rva);
  const PeSectionHeader* section = SectionAt(rva);
  if (section == nullptr) return ByteSourceWindow(*source_, 0, 0);
  const std::uint64_t offset = rva - section->VirtualAddress;
  const std::uint64_t size = FileDataSize(*section);
  if (offset >= size) return ByteSourceWindow(*source_, 0, 0);
  return ByteSourceWindow(*source_, std::uint64_t{section->RawOffset} + offset, size - offset);
}

std::optional<PeExportDirectory> PeImage::ExportDirectory() const {
  const PeDataDirectory directory = DataDirectory(kExportDirectory);
  std::uint8_t raw[kExportDirectorySize];
  if (directory.Rva == 0 || !ReadRva(directory.Rva, raw)) return std::nullopt;
  return PeExportDirectory{LoadU32(raw + 20), LoadU32(raw + 24), LoadU32(raw + 28), LoadU32(raw + 32),
                           LoadU32(raw + 36)};
}

}  // namespace vellum::exceptlog
