// A PE file of an x86 or x86-64 module read whole, for the tools that look at modules on disk:
// the headers through PeImage, and the file's own bytes for a section, an
// RVA, a named raw-data resource and the export table. A file that does not
// hold together raises EPeFormatError; damage further in (a resource tree,
// an export table) finds nothing instead.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exceptlog/common/binary/byte_source.h"
#include "exceptlog/common/binary/pe_image.h"

namespace vellum::exceptlog {

// Where a resource's data is: the data entry of the resource tree (which a
// tool may rewrite) and the data it points at.
struct PeResourceEntry {
  std::uint32_t EntryRva = 0;  // of the 16-byte data entry
  std::uint32_t DataRva = 0;
  std::uint32_t Size = 0;
};

struct PeExport {
  std::string Name;
  std::uint32_t Rva = 0;
};

class PeFile {
 public:
  // Raises EPeFormatError for anything but a PE32 i386 or a PE32+ x86-64 file.
  explicit PeFile(std::vector<std::uint8_t> file);
  // The image reads through a source that points into this object.
  PeFile(const PeFile&) = delete;
  PeFile& operator=(const PeFile&) = delete;

  const PeImage& Image() const { return image_; }
  std::uint16_t Machine() const { return image_.Machine(); }
  PeFormat Format() const { return image_.Format(); }
  bool IsPe32Plus() const { return image_.IsPe32Plus(); }
  std::uint64_t ImageBase() const { return image_.ImageBase(); }
  std::uint32_t SizeOfImage() const { return image_.SizeOfImage(); }
  bool IsDll() const { return image_.IsDll(); }
  const std::vector<PeSectionHeader>& Sections() const { return image_.Sections(); }
  const PeSectionHeader* FindSection(std::string_view name) const { return image_.FindSection(name); }
  const PeSectionHeader* SectionAt(std::uint32_t rva) const { return image_.SectionAt(rva); }
  PeDataDirectory DataDirectory(int index) const { return image_.DataDirectory(index); }
  // False unless every byte of the range is backed by the section's file data.
  bool ReadRva(std::uint32_t rva, std::span<std::uint8_t> out) const { return image_.ReadRva(rva, out); }

  // The section's bytes in the file (no more than its virtual size).
  std::span<const std::uint8_t> SectionData(const PeSectionHeader& section) const;
  // The file bytes from `rva` to the end of its section's file data.
  std::span<const std::uint8_t> BytesAt(std::uint32_t rva) const;

  // The data of the first language of resource `type` named `name`
  // (compared without case, as the system does).
  std::optional<std::span<const std::uint8_t>> FindResource(std::uint16_t type, std::string_view name) const;
  // The same resource's data entry; nothing unless its data is all in the file.
  std::optional<PeResourceEntry> FindResourceEntry(std::uint16_t type, std::string_view name) const;

  // Named exports that point into the image (forwarders left out), in the
  // order of the name table.
  std::vector<PeExport> Exports() const;

  const std::vector<std::uint8_t>& FileBytes() const { return file_; }

 private:
  std::vector<std::uint8_t> file_;
  BufferByteSource source_;
  PeImage image_;
};

}  // namespace vellum::exceptlog
