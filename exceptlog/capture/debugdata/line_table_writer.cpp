#include "exceptlog/capture/debugdata/line_table_writer.h"

#include <algorithm>

#include "exceptlog/capture/debugdata/debug_data_cursor.h"
#include "exceptlog/capture/debugdata/line_step.h"
#include "exceptlog/capture/debugdata/line_table.h"
#include "exceptlog/capture/debugdata/protected_name.h"

namespace vellum::exceptlog {
namespace {

// Sorted, without overlaps or empty ranges, no range longer than one entry
// can describe, neighbours with the same unit, line and procedure joined.
std::vector<LineTableRange> Normalised(const LineTableSource& source) {
  std::vector<LineTableRange> sorted;
  for (const LineTableRange& range : source.Ranges) {
    if (range.Unit >= source.UnitNames.size() ||
        (range.Procedure != kNoProcedure && range.Procedure >= source.Procedures.size())) {
      throw EDebugDataError("a code range names an unknown unit or procedure");
    }
    if (range.Size > 0) sorted.push_back(range);
  }
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const LineTableRange& a, const LineTableRange& b) { return a.CodeOffset < b.CodeOffset; });
  std::vector<LineTableRange> result;
  std::uint64_t covered_to = 0;
  for (LineTableRange range : sorted) {
    std::uint64_t start = range.CodeOffset;
    const std::uint64_t end = start + range.Size;
    if (end <= covered_to) continue;
    start = std::max(start, covered_to);
    covered_to = end;
    while (start < end) {
      range.CodeOffset = static_cast<std::uint32_t>(start);
      range.Size = static_cast<std::uint32_t>(std::min<std::uint64_t>(end - start, kMaxAddressStep));
      start += range.Size;
      if (!result.empty()) {
        LineTableRange& last = result.back();
        if (last.Unit == range.Unit && last.Line == range.Line && last.Procedure == range.Procedure &&
            std::uint64_t{last.CodeOffset} + last.Size == range.CodeOffset &&
            std::uint64_t{last.Size} + range.Size <= kMaxAddressStep) {
          last.Size += range.Size;
          continue;
        }
      }
      result.push_back(range);
    }
  }
  return result;
}

struct Point {
  std::uint32_t Line = 0;
  std::uint32_t Address = 0;
  std::uint32_t Size = 0;
  bool Named = false;
  std::uint32_t Procedure = kNoProcedure;
};

struct Record {
  std::uint32_t Unit = 0;
  std::vector<Point> Points;
  // A procedure whose stored first line could not be set right at its first
  // entry; a later entry of it names it again with the right first line.
  std::uint32_t Redeclare = kNoProcedure;
  std::uint64_t End() const { return std::uint64_t{Points.back().Address} + Points.back().Size; }
};

class Writer {
 public:
  Writer(const LineTableSource& source, std::uint16_t version, const BlockCipher& cipher, const CodeBytesReader& code)
      : source_(source), version_(version), cipher_(cipher), code_(code) {}

  void Add(const LineTableRange& range) {
    if (!Continues(range)) records_.push_back({range.Unit, {}, kNoProcedure});
    Record& record = records_.back();
    const bool named =
        range.Procedure != kNoProcedure && (record.Points.empty() || range.Procedure != record.Points.back().Procedure);
    if (named) record.Redeclare = kNoProcedure;
    if (named || (range.Procedure != kNoProcedure && record.Redeclare == range.Procedure)) {
      const std::uint32_t first = StoredFirstLine(range);
      if (first != 0 && first < range.Line && range.Line - first <= kMaxLineStep &&
          (record.Points.empty() || first > record.Points.back().Line)) {
        // An entry that moves only the line sets the procedure's first line
        // below the line of its first code.
        record.Points.push_back({first, range.CodeOffset, 0, true, range.Procedure});
        record.Points.push_back({range.Line, range.CodeOffset, range.Size, false, range.Procedure});
        record.Redeclare = kNoProcedure;
        return;
      }
      // Code at the very first line of a procedure without a frame: the
      // reader would count every line of it one too high, so the procedure
      // is named again at its next entry that allows it.
      if (named && first > range.Line) record.Redeclare = range.Procedure;
    }
    record.Points.push_back({range.Line, range.CodeOffset, range.Size, named, range.Procedure});
  }

  std::vector<std::uint8_t> Finish(LineTableStatistics* statistics) {
    std::vector<std::uint8_t> out;
    if (version_ >= kFirstVersionWithDebugPreamble && version_ < kFirstCipheredVersion) AppendU32(out, 0);
    AppendU32(out, static_cast<std::uint32_t>(records_.size()));
    LineTableStatistics counted;
    counted.UnitRecords = records_.size();
    for (const Record& record : records_) {
      std::vector<std::uint8_t> table;
      std::uint64_t code_size = 0;
      for (std::size_t i = 0; i < record.Points.size(); ++i) {
        const Point& point = record.Points[i];
        const std::uint32_t line_step = i + 1 < record.Points.size() ? record.Points[i + 1].Line - point.Line : 1;
        WriteLineStep(table, {line_step, point.Size, point.Named}, version_);
        if (point.Named) {
          WriteProcedureName(table, source_.Procedures[point.Procedure]);
          ++counted.NamedEntries;
        }
        code_size += point.Size;
        ++counted.Entries;
      }
      const std::string unit_name = source_.UnitNames[record.Unit];
      WriteProtectedName(out, std::span<const std::string>(&unit_name, 1), version_, cipher_);
      AppendU32(out, record.Points.front().Line);
      AppendU32(out, record.Points.front().Address);
      AppendU32(out, static_cast<std::uint32_t>(code_size));
      AppendU32(out, static_cast<std::uint32_t>(table.size()));
      AppendBytes(out, table);
    }
    if (statistics != nullptr) *statistics = counted;
    return out;
  }

 private:
  // Whether `range` can extend the last record: same unit, no gap, a line
  // step the format can hold, and room for the procedure's first line.
  bool Continues(const LineTableRange& range) const {
    if (records_.empty()) return false;
    const Record& record = records_.back();
    const Point& last = record.Points.back();
    if (record.Unit != range.Unit || record.End() != range.CodeOffset) return false;
    if (range.Line <= last.Line || range.Line - last.Line > kMaxLineStep) return false;
    if (range.Procedure == last.Procedure && record.Redeclare != range.Procedure) return true;
    // Code without a procedure after a procedure would read as part of it.
    if (range.Procedure == kNoProcedure) return false;
    // A procedure starts (or is named again): a new record when only there
    // its first line can be stored below its code's line.
    const std::uint32_t first = StoredFirstLine(range);
    return first == 0 || first >= range.Line || first > last.Line;
  }

  // The first line to store for the procedure starting at `range` so that
  // the reader's line within the procedure is Line - FirstLine: the reader
  // counts one line more for procedures that do not start with a frame.
  std::uint32_t StoredFirstLine(const LineTableRange& range) const {
    const LineTableProcedure& procedure = source_.Procedures[range.Procedure];
    if (procedure.FirstLine == 0) return 0;
    LineRange probe;
    probe.HasProcedure = true;
    probe.ProcedureName = &procedure.Name;
    probe.ProcedureStart = range.CodeOffset;
    probe.ProcedureFirstLine = procedure.FirstLine;
    probe.Line = procedure.FirstLine + 1;
    // ProcedureLineOf gives 1, or 2 when the reader counts one line more.
    return procedure.FirstLine + (ProcedureLineOf(probe, code_) - 1);
  }

  void WriteProcedureName(std::vector<std::uint8_t>& out, const LineTableProcedure& procedure) const {
    std::vector<std::string> parts;
    if (!procedure.ClassName.empty()) parts.push_back(procedure.ClassName);
    parts.push_back(procedure.Name);
    WriteProtectedName(out, parts, version_, cipher_);
  }

  const LineTableSource& source_;
  std::uint16_t version_;
  const BlockCipher& cipher_;
  const CodeBytesReader& code_;
  std::vector<Record> records_;
};

}  // namespace

std::vector<std::uint8_t> WriteDebugData(const LineTableSource& source, std::uint16_t block_version,
                                         const BlockCipher& cipher, const CodeBytesReader& code,
                                         LineTableStatistics* statistics) {
  Writer writer(source, block_version, cipher, code);
  for (const LineTableRange& range : Normalised(source)) writer.Add(range);
  return writer.Finish(statistics);
}

}  // namespace vellum::exceptlog
