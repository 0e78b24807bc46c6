// A PE image (PE32 or PE32+) read from any ByteSource: its headers, its
// section table and its bytes by relative virtual address. The same headers
// serve a module file and a module the loader has mapped; only where an RVA
// lies differs. In a file, a section's bytes sit at its raw offset and end with
// its raw data; in memory, the loader has put every byte at its RVA.
//
// Headers come from files and processes we did not write: every offset,
// size and count is checked against what the source really holds, and an
// image whose headers do not hold together is refused as a whole.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exceptlog/common/binary/byte_source.h"
#include "runtime/exception.h"

namespace vellum::exceptlog {

VELLUM_EXCEPTION_CLASS(EPeFormatError, Exception);

enum class PeImageForm {
  kFile,    // the bytes of a module file
  kLoaded,  // a module as the loader mapped it: offset = RVA
};

inline constexpr std::uint16_t kMachineI386 = 0x014C;
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;
inline constexpr std::uint16_t kImageFileDll = 0x2000;
inline constexpr int kExportDirectory = 0;
inline constexpr int kResourceDirectory = 2;
inline constexpr int kExceptionDirectory = 3;  // a 64-bit module's unwind data
inline constexpr std::uint16_t kRawDataResource = 10;
// Export names longer than this are not names a tool or a report shows.
inline constexpr std::uint32_t kMaxPeNameLength = 256;

// The optional header's layout. Only the preferred base and what follows it
// differ: PE32+ widens the base and the four stack and heap sizes to 8 bytes.
// RVAs and sizes inside the image stay 32-bit in both.
enum class PeFormat {
  kPe32,      // magic 0x10B, 32-bit modules
  kPe32Plus,  // magic 0x20B, 64-bit modules
};

// "PE32" or "PE32+".
const char* PeFormatName(PeFormat format);
// "i386", "x86-64", or the machine number in hexadecimal.
std::string PeMachineName(std::uint16_t machine);

struct PeSectionHeader {
  std::string Name;  // long names ("/4") resolved through the COFF string table of a file
  std::uint32_t VirtualAddress = 0;
  std::uint32_t VirtualSize = 0;
  std::uint32_t RawOffset = 0;
  std::uint32_t RawSize = 0;
  std::uint32_t Characteristics = 0;
};

struct PeDataDirectory {
  std::uint32_t Rva = 0;
  std::uint32_t Size = 0;
};

// The fixed part of the export directory, as the image states it.
struct PeExportDirectory {
  std::uint32_t NumberOfFunctions = 0;
  std::uint32_t NumberOfNames = 0;
  std::uint32_t AddressOfFunctions = 0;  // RVAs of the three arrays
  std::uint32_t AddressOfNames = 0;
  std::uint32_t AddressOfNameOrdinals = 0;
};

class PeImage {
 public:
  // "MZ", the new header's offset at 0x3C, "PE\0\0", the file header, the
  // whole optional header (PE32 or PE32+) and the whole section table.
  // Nothing when any of it is missing or wrong; `problem` then says what.
  static std::optional<PeImage> Read(const ByteSource& source, PeImageForm form, std::string* problem = nullptr);

  PeImageForm Form() const { return form_; }
  const ByteSource& Source() const { return *source_; }
  std::uint16_t Machine() const { return machine_; }
  PeFormat Format() const { return format_; }
  bool IsPe32Plus() const { return format_ == PeFormat::kPe32Plus; }
  bool IsDll() const { return (characteristics_ & kImageFileDll) != 0; }
  // Above 4 GB only for PE32+.
  std::uint64_t ImageBase() const { return image_base_; }
  std::uint32_t SizeOfImage() const { return size_of_image_; }
  std::uint32_t BaseOfCode() const { return base_of_code_; }
  std::uint32_t SizeOfCode() const { return size_of_code_; }
  // The directories the optional header has room for (at most 16).
  std::size_t DataDirectoryCount() const { return directories_.size(); }
  // An empty directory for an index the header does not have.
  PeDataDirectory DataDirectory(int index) const;

  const std::vector<PeSectionHeader>& Sections() const { return sections_; }
  const PeSectionHeader* FindSection(std::string_view name) const;
  // The section whose virtual range, or raw data when that is larger, holds `rva`.
  const PeSectionHeader* SectionAt(std::uint32_t rva) const;
  // Where a section's bytes are in a file: its raw data, no more than its
  // virtual size (padding to the file alignment is not the section's).
  static std::uint64_t FileDataSize(const PeSectionHeader& section);

  // The bytes from `rva` on, as far as what backs `rva` goes: in a file the
  // rest of its section's data (nothing outside every section), in memory
  // the rest of the address space.
  ByteSourceWindow At(std::uint32_t rva) const;
  bool ReadRva(std::uint32_t rva, std::span<std::uint8_t> out) const { return At(rva).Read(0, out); }
  std::optional<std::uint16_t> U16AtRva(std::uint32_t rva) const { return At(rva).U16(0); }
  std::optional<std::uint32_t> U32AtRva(std::uint32_t rva) const { return At(rva).U32(0); }
  std::string CStringAtRva(std::uint32_t rva, std::size_t max_length = kMaxPeNameLength) const {
    return At(rva).CString(0, max_length);
  }

  // Nothing when the image has no export directory or its fixed part cannot be read.
  std::optional<PeExportDirectory> ExportDirectory() const;

 private:
  PeImage(const ByteSource& source, PeImageForm form) : source_(&source), form_(form) {}
  std::optional<std::string> ReadHeaders();

  const ByteSource* source_;
  PeImageForm form_;
  std::uint16_t machine_ = 0;
  std::uint16_t characteristics_ = 0;
  PeFormat format_ = PeFormat::kPe32;
  std::uint64_t image_base_ = 0;
  std::uint32_t size_of_image_ = 0;
  std::uint32_t base_of_code_ = 0;
  std::uint32_t size_of_code_ = 0;
  std::vector<PeDataDirectory> directories_;
  std::vector<PeSectionHeader> sections_;
};

}  // namespace vellum::exceptlog
