#include "exceptlog/debuginfo/options_rewrite.h"

#include <algorithm>

#include "exceptlog/capture/debugdata/symbol_table.h"
#include "exceptlog/common/binary/byte_cursor.h"
#include "exceptlog/common/binary/little_endian.h"
#include "exceptlog/common/binary/pe_file.h"
#include "exceptlog/common/zlib/zlib_buffer.h"

namespace vellum::exceptlog {
namespace {

using BlockCursor = ByteCursor<EOptionsRewriteError>;

constexpr const char* kBlockResource = "ELDATA";
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::uint32_t kInitializedReadOnlyData = 0x40000040;  // initialised data, readable

// Offsets of the headers this rewrite touches, from the file's own fields.
struct HeaderOffsets {
  std::size_t file_header = 0;
  std::size_t optional_header = 0;
  std::size_t section_table = 0;
  std::uint16_t section_count = 0;
};

HeaderOffsets LocateHeaders(std::span<const std::uint8_t> file) {
  BlockCursor dos(file, 0x3C);
  HeaderOffsets offsets;
  offsets.file_header = std::size_t{dos.U32()} + 4;
  BlockCursor header(file, offsets.file_header + 2);
  offsets.section_count = header.U16();
  BlockCursor optional_size(file, offsets.file_header + 16);
  offsets.optional_header = offsets.file_header + 20;
  offsets.section_table = offsets.optional_header + optional_size.U16();
  return offsets;
}

std::uint32_t AlignUp(std::uint64_t value, std::uint32_t alignment) {
  if (alignment == 0) alignment = 1;
  const std::uint64_t aligned = (value + alignment - 1) / alignment * alignment;
  if (aligned > 0xFFFFFFFFu) throw EOptionsRewriteError("the module would grow past 4 GB");
  return static_cast<std::uint32_t>(aligned);
}

// The new block: everything but the options part kept byte for byte.
std::vector<std::uint8_t> RewriteBlock(std::span<const std::uint8_t> block, std::span<const std::uint8_t> options) {
  BlockCursor in(block);
  if (in.U32() != kStoredBlockMagic) throw EOptionsRewriteError("the stored block does not start with its magic");
  const std::uint16_t version = in.U16();
  if (version < kFirstVersionWithSymbols) {
    throw EOptionsRewriteError("the stored block is of version " + std::to_string(version) +
                               ", older than the layout whose options can be replaced");
  }
  in.Skip(8);  // compile date
  in.Skip(in.U32());
  const std::size_t options_at = in.Position();
  in.Skip(in.U32());
  const std::span<const std::uint8_t> rest = block.subspan(in.Position());

  std::vector<std::uint8_t> out(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(options_at));
  const Bytes compressed = CompressBuf(options.data(), options.size());
  AppendU32(out, static_cast<std::uint32_t>(compressed.size()));
  AppendBytes(out, compressed);
  AppendBytes(out, rest);
  return out;
}

std::size_t FileOffsetOf(const PeFile& module, std::uint32_t rva) {
  const PeSectionHeader* section = module.SectionAt(rva);
  if (section == nullptr) throw EOptionsRewriteError("an address of the resource tree lies outside every section");
  return std::size_t{section->RawOffset} + (rva - section->VirtualAddress);
}

// A new last section holding `block`; answers its RVA.
std::uint32_t AppendSection(std::vector<std::uint8_t>& file, const PeFile& module,
                            std::span<const std::uint8_t> block) {
  const HeaderOffsets at = LocateHeaders(file);
  const std::size_t new_header = at.section_table + kSectionHeaderSize * at.section_count;
  BlockCursor optional(file, at.optional_header + 32);
  const std::uint32_t section_alignment = optional.U32();
  const std::uint32_t file_alignment = optional.U32();
  BlockCursor headers_size(file, at.optional_header + 60);
  const std::uint32_t size_of_headers = headers_size.U32();

  // The header must go into the zero bytes after the table, before any
  // section's data.
  std::uint64_t first_data = size_of_headers;
  std::uint64_t end_of_image = 0;
  for (const PeSectionHeader& section : module.Sections()) {
    if (section.RawSize != 0) first_data = std::min<std::uint64_t>(first_data, section.RawOffset);
    end_of_image = std::max<std::uint64_t>(
        end_of_image, std::uint64_t{section.VirtualAddress} + std::max(section.VirtualSize, section.RawSize));
  }
  if (new_header + kSectionHeaderSize > first_data ||
      !std::all_of(file.begin() + static_cast<std::ptrdiff_t>(new_header),
                   file.begin() + static_cast<std::ptrdiff_t>(new_header + kSectionHeaderSize),
                   [](std::uint8_t byte) { return byte == 0; })) {
    throw EOptionsRewriteError("the module has no room for another section header; rebuild it with these options");
  }

  const std::uint32_t rva = AlignUp(end_of_image, section_alignment);
  const std::uint32_t raw_offset = AlignUp(file.size(), file_alignment);
  const std::uint32_t raw_size = AlignUp(block.size(), file_alignment);
  file.resize(std::size_t{raw_offset} + raw_size, 0);
  std::copy(block.begin(), block.end(), file.begin() + raw_offset);

  std::uint8_t* header = file.data() + new_header;
  const char name[8] = {'.', 'e', 'l', 'd', 'a', 't', 'a', 0};
  std::copy(std::begin(name), std::end(name), header);
  StoreU32(header + 8, static_cast<std::uint32_t>(block.size()));
  StoreU32(header + 12, rva);
  StoreU32(header + 16, raw_size);
  StoreU32(header + 20, raw_offset);
  StoreU32(header + 36, kInitializedReadOnlyData);
  StoreU16(file.data() + at.file_header + 2, static_cast<std::uint16_t>(at.section_count + 1));

  std::uint8_t* optional_header = file.data() + at.optional_header;
  StoreU32(optional_header + 8, LoadU32(optional_header + 8) + raw_size);  // size of initialised data
  StoreU32(optional_header + 56, AlignUp(std::uint64_t{rva} + block.size(), section_alignment));
  return rva;
}

}  // namespace

std::uint32_t PeChecksum(std::span<const std::uint8_t> file, std::size_t checksum_offset) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < file.size(); i += 2) {
    if (i == checksum_offset || i == checksum_offset + 2) continue;
    const std::uint32_t word = i + 1 < file.size() ? LoadU16(&file[i]) : file[i];
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + file.size());
}

std::uint16_t StoredBlockVersionOf(const std::vector<std::uint8_t>& module_file) {
  const PeFile module(module_file);
  const auto block = module.FindResource(kRawDataResource, kBlockResource);
  if (!block) throw EOptionsRewriteError("the module carries no stored block resource");
  BlockCursor in(*block, 4);
  return in.U16();
}

OptionsRewrite ReplaceStoredOptions(const std::vector<std::uint8_t>& module_file,
                                    std::span<const std::uint8_t> options_stream) {
  const PeFile module(module_file);
  const std::optional<PeResourceEntry> entry = module.FindResourceEntry(kRawDataResource, kBlockResource);
  if (!entry) throw EOptionsRewriteError("the module carries no stored block resource");
  const std::vector<std::uint8_t> block =
      RewriteBlock(module.BytesAt(entry->DataRva).first(entry->Size), options_stream);

  OptionsRewrite result;
  result.File = module_file;
  std::uint32_t data_rva = entry->DataRva;
  if (block.size() <= entry->Size) {
    // The old place holds it; what is left of it is cleared.
    const std::size_t at = FileOffsetOf(module, data_rva);
    std::copy(block.begin(), block.end(), result.File.begin() + static_cast<std::ptrdiff_t>(at));
    std::fill_n(result.File.begin() + static_cast<std::ptrdiff_t>(at + block.size()), entry->Size - block.size(), 0);
    result.InPlace = true;
  } else {
    data_rva = AppendSection(result.File, module, block);
  }
  const std::size_t entry_at = FileOffsetOf(module, entry->EntryRva);
  StoreU32(result.File.data() + entry_at, data_rva);
  StoreU32(result.File.data() + entry_at + 4, static_cast<std::uint32_t>(block.size()));

  const HeaderOffsets at = LocateHeaders(result.File);
  const std::size_t checksum_offset = at.optional_header + 64;
  if (LoadU32(result.File.data() + checksum_offset) != 0) {
    StoreU32(result.File.data() + checksum_offset, PeChecksum(result.File, checksum_offset));
  }
  return result;
}

}  // namespace vellum::exceptlog
