// A 32-bit PE file read from its bytes, for tools that look at modules on
// disk: sections (long names from the COFF string table too), data at a
// relative virtual address, a named raw-data resource and the export table.
// Every header, offset and count is checked against the file; a file that
// does not hold together raises EPeFormatError.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/exception.h"

namespace vellum::eldata {

VELLUM_EXCEPTION_CLASS(EPeFormatError, Exception);

struct PeSection {
  std::string Name;
  std::uint32_t VirtualAddress = 0;
  std::uint32_t VirtualSize = 0;
  std::uint32_t RawOffset = 0;
  std::uint32_t RawSize = 0;
  std::uint32_t Characteristics = 0;
};

struct PeExport {
  std::string Name;
  std::uint32_t Rva = 0;
};

inline constexpr int kExportDirectory = 0;
inline constexpr int kResourceDirectory = 2;
inline constexpr std::uint16_t kRawDataResource = 10;

class PeImage {
 public:
  explicit PeImage(std::vector<std::uint8_t> file);

  std::uint32_t ImageBase() const { return image_base_; }
  std::uint32_t SizeOfImage() const { return size_of_image_; }
  bool IsDll() const { return (characteristics_ & 0x2000) != 0; }
  const std::vector<PeSection>& Sections() const { return sections_; }
  const PeSection* FindSection(std::string_view name) const;
  const PeSection* SectionAt(std::uint32_t rva) const;
  // The section's bytes in the file (no more than its virtual size).
  std::span<const std::uint8_t> SectionData(const PeSection& section) const;
  // False unless every byte of the range is backed by file data.
  bool ReadRva(std::uint32_t rva, std::span<std::uint8_t> out) const;
  // The file bytes from `rva` to the end of the section's file data.
  std::span<const std::uint8_t> BytesAt(std::uint32_t rva) const;

  struct Directory {
    std::uint32_t Rva = 0;
    std::uint32_t Size = 0;
  };
  Directory DataDirectory(int index) const;

  // The data of the first language of resource `type` named `name`
  // (compared without case, as the system does).
  std::optional<std::span<const std::uint8_t>> FindResource(std::uint16_t type, std::string_view name) const;

  // Named exports that point into the image (forwarders left out).
  std::vector<PeExport> Exports() const;

  const std::vector<std::uint8_t>& FileBytes() const { return file_; }

 private:
  std::vector<std::uint8_t> file_;
  std::uint32_t image_base_ = 0;
  std::uint32_t size_of_image_ = 0;
  std::uint16_t characteristics_ = 0;
  std::vector<Directory> directories_;
  std::vector<PeSection> sections_;
};

}  // namespace vellum::eldata
