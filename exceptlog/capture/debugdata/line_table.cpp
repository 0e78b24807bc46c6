#include "exceptlog/capture/debugdata/line_table.h"

#include "exceptlog/capture/debugdata/line_step.h"

namespace vellum::exceptlog {

NameProtection ProtectionOf(const DebugDataView& view, const BlockCipher& cipher) {
  return {view.BlockVersion, view.PasswordOk, &cipher};
}

UnitRecordReader::UnitRecordReader(const DebugDataView& view)
    : data_(view.Data), version_(view.BlockVersion), in_(view.Data) {
  if (version_ >= kFirstVersionWithDebugPreamble && version_ < kFirstCipheredVersion) in_.Skip(in_.U32());
  count_ = in_.U32();
}

std::optional<UnitRecord> UnitRecordReader::Next() {
  if (read_ == count_) return std::nullopt;
  UnitRecord unit;
  unit.NameOffset = in_.Position();
  SkipProtectedName(in_, version_);
  unit.FirstLine = in_.U32();
  unit.CodeOffset = in_.U32();
  unit.CodeSize = in_.U32();
  unit.Table = in_.Take(in_.U32());
  ++read_;
  return unit;
}

std::string UnitDisplayName(const DebugDataView& view, const UnitRecord& unit, const BlockCipher& cipher) {
  DebugDataCursor in(view.Data.subspan(unit.NameOffset));
  std::string name = ReadProtectedName(in, ProtectionOf(view, cipher));
  if (!view.PasswordOk) {
    if (!name.empty()) name = name.substr(0, 1) + 'p' + name.substr(1);
  } else if (name.find('.') == std::string::npos) {
    name += ".pas";
  }
  return name;
}

void DecodeUnitTable(const DebugDataView& view, const UnitRecord& unit, const BlockCipher& cipher,
                     const std::function<bool(const LineRange&)>& visit) {
  const NameProtection protection = ProtectionOf(view, cipher);
  DebugDataCursor in(unit.Table);
  std::string class_name;
  std::string procedure_name;
  LineRange range;
  range.ClassName = &class_name;
  range.ProcedureName = &procedure_name;
  std::uint32_t line = unit.FirstLine;
  std::uint64_t address = unit.CodeOffset;
  while (!in.AtEnd()) {
    const LineStep step = ReadLineStep(in, view.BlockVersion);
    // The running address is a 32-bit code offset; a table that walks past
    // the end of the address space describes nothing more.
    if (address + step.Address > 0xFFFFFFFFull + 1) return;
    range.Start = static_cast<std::uint32_t>(address);
    range.Size = step.Address;
    range.Line = line;
    range.StartsProcedure = step.Named;
    if (step.Named) {
      const std::string name = ReadProtectedName(in, protection);
      if (!name.empty() && name.front() == '.') {
        procedure_name = name.substr(1);
      } else {
        const std::size_t dot = name.find('.');
        class_name = dot == std::string::npos ? std::string() : name.substr(0, dot);
        procedure_name = dot == std::string::npos ? name : name.substr(dot + 1);
        if (!class_name.empty() && class_name.front() == '@') class_name.front() = '_';
      }
      range.HasProcedure = true;
      range.ProcedureFirstLine = line;
      range.ProcedureStart = range.Start;
    }
    if (!visit(range)) return;
    line += step.Line;
    address += step.Address;
  }
}

std::uint32_t ProcedureLineOf(const LineRange& range, const CodeBytesReader& code) {
  if (!range.HasProcedure) return 0;
  std::int64_t first_line = range.ProcedureFirstLine;
  const std::string& name = *range.ProcedureName;
  bool counts_one_less = name == "Finalization";
  if (!counts_one_less && name != "Initialization" && code) {
    // Procedures without a stack frame start one line later than their
    // first entry says. The classic frame is "PUSH EBP; MOV EBP, ESP" (55 8B
    // EC), in 64-bit code with REX.W (55 48 8B EC). Unreadable code is left
    // as it is.
    std::uint8_t start[4] = {};
    const auto readable = [&](std::size_t count) {
      return code(range.ProcedureStart, std::span<std::uint8_t>(start, count));
    };
    if (readable(4) && start[0] == 0x55 && start[1] == 0x48 && start[2] == 0x8B && start[3] == 0xEC) {
      counts_one_less = false;
    } else if (readable(3)) {
      counts_one_less = !(start[0] == 0x55 && start[1] == 0x8B && start[2] == 0xEC) && start[0] != 0x53;
    } else if (readable(1)) {
      counts_one_less = start[0] != 0x53;
    }
  }
  if (counts_one_less) --first_line;
  const std::int64_t offset = static_cast<std::int64_t>(range.Line) - first_line;
  return offset < 0 ? 0 : static_cast<std::uint32_t>(offset);
}

std::optional<DebugLocation> LookUpInUnit(const DebugDataView& view, const UnitRecord& unit, const BlockCipher& cipher,
                                          std::uint32_t code_offset, const CodeBytesReader& code) {
  std::optional<DebugLocation> found;
  DecodeUnitTable(view, unit, cipher, [&](const LineRange& range) {
    if (range.Start > code_offset) return false;  // passed
    if (std::uint64_t{code_offset} >= std::uint64_t{range.Start} + range.Size) return true;
    found.emplace();
    found->ClassName = *range.ClassName;
    found->ProcedureName = *range.ProcedureName;
    found->Line = range.Line;
    found->ProcedureLine = ProcedureLineOf(range, code);
    return false;
  });
  if (found) found->UnitName = UnitDisplayName(view, unit, cipher);
  return found;
}

}  // namespace vellum::exceptlog
