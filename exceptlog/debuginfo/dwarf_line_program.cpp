#include "exceptlog/debuginfo/dwarf_line_program.h"

#include "exceptlog/debuginfo/dwarf_format.h"

namespace vellum::exceptlog {
namespace {

// Bounds that no compiler's output comes near and that keep a hostile header
// from filling memory: entries that read no bytes, or each naming a long
// directory again, would otherwise make gigabytes of paths from a few bytes.
constexpr std::uint64_t kMaxHeaderEntries = 1u << 14;
constexpr std::size_t kMaxPathLength = 4096;

std::string JoinPath(const std::string& directory, std::string_view name) {
  if (name.size() > kMaxPathLength) throw EDwarfError("path in a line table header is too long");
  if (name.empty() || name.front() == '/' || directory.empty()) return std::string(name);
  if (directory.size() + 1 + name.size() > kMaxPathLength) throw EDwarfError("path in a line table header is too long");
  return directory + (directory.back() == '/' ? "" : "/") + std::string(name);
}

void CheckEntryCount(std::uint64_t count) {
  if (count > kMaxHeaderEntries) throw EDwarfError("too many directories or files in a line table header");
}

// One value of a DWARF 5 directory or file entry: a string or a number.
struct EntryValue {
  std::string_view Text;
  std::uint64_t Number = 0;
};

EntryValue ReadEntryValue(DwarfCursor& in, std::uint64_t form, const DwarfSections& sections) {
  switch (form) {
    case kFormString: return {in.CString(), 0};
    case kFormStrp: return {StringAt(sections.Str, in.U32()), 0};
    case kFormLineStrp: return {StringAt(sections.LineStr, in.U32()), 0};
    case kFormUdata: return {{}, in.Uleb()};
    case kFormData1: return {{}, in.U8()};
    case kFormData2: return {{}, in.U16()};
    case kFormData4: return {{}, in.U32()};
    case kFormData8: return {{}, in.Fixed(8)};
    case kFormData16: in.Skip(16); return {};
    case kFormBlock: in.Skip(in.Uleb()); return {};
    case kFormBlock1: in.Skip(in.U8()); return {};
    default: throw EDwarfError("unknown form in a line table header");
  }
}

using Format = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

// The entry format and count of a DWARF 5 directory or file list.
std::uint64_t ReadEntryCount(DwarfCursor& in, const Format& format) {
  const std::uint64_t count = in.Uleb();
  CheckEntryCount(count);
  // Entries without fields read nothing: any count of them is free to claim.
  if (count != 0 && format.empty()) throw EDwarfError("line table entries without fields");
  return count;
}

Format ReadFormat(DwarfCursor& in) {
  Format format;
  const std::uint8_t count = in.U8();
  for (std::uint8_t i = 0; i < count; ++i) {
    const std::uint64_t type = in.Uleb();
    format.emplace_back(type, in.Uleb());
  }
  return format;
}

}  // namespace

LineProgram ReadLineProgram(const DwarfSections& sections, std::uint64_t offset, unsigned address_size,
                            const std::string& comp_dir) {
  DwarfCursor in(sections.Line, offset);
  const std::uint32_t unit_length = in.U32();
  if (unit_length >= 0xFFFFFFF0u) throw EDwarfError("64-bit DWARF line tables are not supported");
  const std::uint64_t end = in.Position() + unit_length;
  if (end > offset + 4 + in.Remaining()) throw EDwarfError("line table longer than its section");
  const std::uint16_t version = in.U16();
  if (version < 2 || version > 5) throw EDwarfError("unknown line table version");
  if (version >= 5) {
    address_size = in.U8();
    in.U8();  // segment selector size
  }
  if (address_size != 4 && address_size != 8) throw EDwarfError("unknown address size");
  const std::uint32_t header_length = in.U32();
  const std::uint64_t program_start = in.Position() + header_length;
  const std::uint8_t min_instruction_length = in.U8();
  if (version >= 4) in.U8();  // maximum operations per instruction
  const bool default_is_stmt = in.U8() != 0;
  (void)default_is_stmt;
  const auto line_base = static_cast<std::int8_t>(in.U8());
  const std::uint8_t line_range = in.U8();
  const std::uint8_t opcode_base = in.U8();
  if (line_range == 0 || opcode_base == 0) throw EDwarfError("line table header without a line range");
  std::vector<std::uint8_t> opcode_lengths(opcode_base);
  for (std::uint8_t i = 1; i < opcode_base; ++i) opcode_lengths[i] = in.U8();

  LineProgram program;
  std::vector<std::string> directories;
  if (version >= 5) {
    const Format directory_format = ReadFormat(in);
    const std::uint64_t directory_count = ReadEntryCount(in, directory_format);
    for (std::uint64_t i = 0; i < directory_count; ++i) {
      std::string path;
      for (const auto& [type, form] : directory_format) {
        const EntryValue value = ReadEntryValue(in, form, sections);
        if (type == kLnctPath) path = std::string(value.Text);
      }
      directories.push_back(i == 0 ? path : JoinPath(directories.front(), path));
    }
    const Format file_format = ReadFormat(in);
    const std::uint64_t file_count = ReadEntryCount(in, file_format);
    for (std::uint64_t i = 0; i < file_count; ++i) {
      std::string_view name;
      std::uint64_t directory = 0;
      for (const auto& [type, form] : file_format) {
        const EntryValue value = ReadEntryValue(in, form, sections);
        if (type == kLnctPath) name = value.Text;
        if (type == kLnctDirectoryIndex) directory = value.Number;
      }
      program.Files.push_back(JoinPath(directory < directories.size() ? directories[directory] : comp_dir, name));
    }
  } else {
    directories.push_back(comp_dir);
    for (std::string_view directory; !(directory = in.CString()).empty();) {
      CheckEntryCount(directories.size());
      directories.push_back(JoinPath(comp_dir, directory));
    }
    // Index 0 means "the unit's own file" before version 5; files count from 1.
    program.Files.emplace_back();
    for (std::string_view name; !(name = in.CString()).empty();) {
      CheckEntryCount(program.Files.size());
      const std::uint64_t directory = in.Uleb();
      in.Uleb();
      in.Uleb();
      program.Files.push_back(JoinPath(directory < directories.size() ? directories[directory] : comp_dir, name));
    }
  }

  in.Seek(program_start);
  std::uint64_t address = 0;
  std::uint64_t file = 1;
  // Unsigned: hostile advances wrap instead of overflowing.
  std::uint64_t line = 1;
  std::vector<DwarfLineRow> sequence;
  // Addresses wrap at the unit's address size, as the machine's do.
  const std::uint64_t address_mask = address_size == 8 ? ~std::uint64_t{0} : 0xFFFFFFFFu;
  const auto emit = [&](bool end_sequence) {
    sequence.push_back(
        {address & address_mask, static_cast<std::uint32_t>(file), static_cast<std::uint32_t>(line), end_sequence});
  };
  while (in.Position() < end) {
    const std::uint8_t opcode = in.U8();
    if (opcode >= opcode_base) {
      const unsigned adjusted = opcode - opcode_base;
      address += std::uint64_t{adjusted / line_range} * min_instruction_length;
      line += static_cast<std::uint64_t>(line_base + static_cast<int>(adjusted % line_range));
      emit(false);
      continue;
    }
    switch (opcode) {
      case kLnsExtended: {
        const std::uint64_t length = in.Uleb();
        if (length == 0) break;
        const std::uint64_t next = in.Position() + length;
        const std::uint8_t sub = in.U8();
        if (sub == kLneEndSequence) {
          emit(true);
          program.Sequences.push_back(std::move(sequence));
          sequence.clear();
          address = 0;
          file = 1;
          line = 1;
        } else if (sub == kLneSetAddress) {
          address = in.Fixed(address_size);
        }
        in.Seek(next);
        break;
      }
      case kLnsCopy: emit(false); break;
      case kLnsAdvancePc: address += in.Uleb() * min_instruction_length; break;
      case kLnsAdvanceLine: line += static_cast<std::uint64_t>(in.Sleb()); break;
      case kLnsSetFile: file = in.Uleb(); break;
      case kLnsSetColumn: in.Uleb(); break;
      case kLnsConstAddPc: address += std::uint64_t{(255u - opcode_base) / line_range} * min_instruction_length; break;
      case kLnsFixedAdvancePc: address += in.U16(); break;
      case kLnsNegateStmt:
      case kLnsSetBasicBlock:
      case kLnsSetPrologueEnd:
      case kLnsSetEpilogueBegin: break;
      default:
        for (std::uint8_t i = 0; i < opcode_lengths[opcode]; ++i) in.Uleb();
    }
  }
  return program;
}

}  // namespace vellum::exceptlog
