#include "exceptlog/debuginfo/line_source_builder.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

namespace vellum::exceptlog {
namespace {

struct Segment {
  std::uint64_t Low = 0;
  std::uint64_t High = 0;
  std::uint32_t Value = 0;  // a function, or (for lines) an index into the line rows
};

// The innermost function over every stretch of code: where ranges nest, the
// deepest one wins; at equal depth the one listed later.
std::vector<Segment> FunctionSegments(const DwarfInfo& dwarf, const CodeBounds& bounds) {
  struct Event {
    std::uint64_t At;
    bool Opens;
    std::size_t Range;
  };
  std::vector<Event> events;
  for (std::size_t i = 0; i < dwarf.CodeRanges.size(); ++i) {
    const DwarfCodeRange& r = dwarf.CodeRanges[i];
    if (r.Low < bounds.Low || r.High > bounds.High || r.Low >= r.High) continue;
    events.push_back({r.Low, true, i});
    events.push_back({r.High, false, i});
  }
  std::sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.At < b.At; });
  std::set<std::pair<std::uint32_t, std::size_t>> active;  // (depth, range)
  std::vector<Segment> segments;
  for (std::size_t i = 0; i < events.size();) {
    const std::uint64_t at = events[i].At;
    for (; i < events.size() && events[i].At == at; ++i) {
      const auto key = std::make_pair(dwarf.CodeRanges[events[i].Range].Depth, events[i].Range);
      if (events[i].Opens) {
        active.insert(key);
      } else {
        active.erase(key);
      }
    }
    if (active.empty() || i == events.size()) continue;
    const std::uint32_t function = dwarf.CodeRanges[active.rbegin()->second].Function;
    const std::uint64_t next = events[i].At;
    if (!segments.empty() && segments.back().High == at && segments.back().Value == function) {
      segments.back().High = next;
    } else {
      segments.push_back({at, next, function});
    }
  }
  return segments;
}

struct LineSegment {
  std::uint64_t Low = 0;
  std::uint64_t High = 0;
  std::uint32_t File = 0;
  std::uint32_t Line = 0;
};

// Each row covers the code up to the next row of its sequence; of rows at
// the same address the last one counts.
std::vector<LineSegment> LineSegments(const DwarfInfo& dwarf, const CodeBounds& bounds) {
  std::vector<LineSegment> segments;
  for (const auto& sequence : dwarf.Sequences) {
    for (std::size_t i = 0; i + 1 < sequence.size(); ++i) {
      const DwarfLineRow& row = sequence[i];
      const std::uint64_t end = sequence[i + 1].Address;
      if (row.EndSequence || end <= row.Address || row.Line == 0 || row.File == kNoDwarfFile) continue;
      if (row.Address < bounds.Low || end > bounds.High) continue;
      segments.push_back({row.Address, end, row.File, row.Line});
    }
  }
  std::stable_sort(segments.begin(), segments.end(),
                   [](const LineSegment& a, const LineSegment& b) { return a.Low < b.Low; });
  return segments;
}

// The stored form's offset of an address inside the bounds.
std::uint32_t CodeOffset(std::uint64_t address, std::uint64_t code_base) {
  if (address < code_base || address - code_base > 0xFFFFFFFFu) {
    throw EDwarfError("code lies outside the 4 GB above the module's base");
  }
  return static_cast<std::uint32_t>(address - code_base);
}

}  // namespace

std::string BaseFileName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

LineTableSource BuildLineTableSource(const DwarfInfo& dwarf, const CodeBounds& bounds) {
  LineTableSource source;
  for (const DwarfFunction& function : dwarf.Functions) {
    source.Procedures.push_back({function.ClassName, function.Name, function.DeclLine});
  }
  std::unordered_map<std::string, std::uint32_t> units;
  std::vector<std::uint32_t> unit_of_file(dwarf.Files.size());
  for (std::size_t i = 0; i < dwarf.Files.size(); ++i) {
    const std::string name = BaseFileName(dwarf.Files[i]);
    const auto [it, added] = units.emplace(name, static_cast<std::uint32_t>(source.UnitNames.size()));
    if (added) source.UnitNames.push_back(name);
    unit_of_file[i] = it->second;
  }

  const std::vector<Segment> functions = FunctionSegments(dwarf, bounds);
  const std::uint64_t code_base = bounds.ImageBase + kDebugCodeBase;
  std::size_t f = 0;
  for (const LineSegment& line : LineSegments(dwarf, bounds)) {
    // Cut the line's code where the innermost function changes.
    std::uint64_t at = line.Low;
    while (f < functions.size() && functions[f].High <= at) ++f;
    std::size_t g = f;
    while (at < line.High) {
      std::uint64_t end = line.High;
      std::uint32_t procedure = kNoProcedure;
      if (g < functions.size() && functions[g].Low <= at) {
        procedure = functions[g].Value;
        end = std::min(end, functions[g].High);
      } else if (g < functions.size()) {
        end = std::min(end, functions[g].Low);
      }
      source.Ranges.push_back({CodeOffset(at, code_base), static_cast<std::uint32_t>(end - at), line.Line,
                               unit_of_file[line.File], procedure});
      at = end;
      while (g < functions.size() && functions[g].High <= at) ++g;
    }
  }
  return source;
}

std::optional<exceptlog::NumberedSymbol> FindNumberedFunction(const DwarfInfo& dwarf, const CodeBounds& bounds,
                                                              const std::string& qualified_name, std::uint8_t number) {
  std::optional<exceptlog::NumberedSymbol> best;
  for (const DwarfCodeRange& range : dwarf.CodeRanges) {
    if (range.Inlined || !range.Entry || range.Low < bounds.Low || range.High > bounds.High) continue;
    if (dwarf.Functions[range.Function].QualifiedName != qualified_name) continue;
    const auto size = static_cast<std::uint32_t>(range.High - range.Low);
    if (!best || size > best->size) {
      best = exceptlog::NumberedSymbol{number, CodeOffset(range.Low, bounds.ImageBase + kDebugCodeBase), size};
    }
  }
  return best;
}

}  // namespace vellum::exceptlog
