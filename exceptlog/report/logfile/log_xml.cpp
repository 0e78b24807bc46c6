#include "exceptlog/report/logfile/log_xml.h"

#include "exceptlog/report/logfile/log_entry.h"
#include "exceptlog/report/xml/xml_item.h"
#include "runtime/strings/string_utils.h"

namespace vellum::exceptlog {

namespace {

constexpr auto npos = std::string_view::npos;
constexpr std::string_view kUnknownRegister = "????    ";

bool OlderThanFive(std::string_view entry) {
  return EntryVersion(entry) < "5.0.0";
}

std::string Substring(std::string_view text, std::size_t start, std::size_t count) {
  return start >= text.size() ? std::string() : std::string(text.substr(start, count));
}

// A table row's cells: leading "|" skipped, split at "|", cells trimmed, an
// empty part after the final "|" dropped.
std::vector<std::string> SplitCells(std::string_view line) {
  std::size_t start = 0;
  while (start < line.size() && line[start] == '|') ++start;
  std::vector<std::string> cells;
  std::string_view rest = line.substr(start);
  for (;;) {
    const std::size_t bar = rest.find('|');
    cells.push_back(Trim(rest.substr(0, bar)));
    if (bar == npos) break;
    rest.remove_prefix(bar + 1);
  }
  if (!cells.empty() && cells.back().empty() && !line.empty() && line.back() == '|') cells.pop_back();
  return cells;
}

// The table's body: the lines from the fourth to the second-last.
std::vector<std::string> TableBody(const std::string& table) {
  std::vector<std::string> lines = SplitLines(table);
  if (lines.size() < 4) return {};
  return std::vector<std::string>(lines.begin() + 3, lines.end() - 1);
}

std::string Cell(const std::vector<std::string>& cells, std::size_t index) {
  return index < cells.size() ? cells[index] : std::string();
}

// The value as it was before the general section stored it.
std::string UnstoredValue(std::string value) {
  if (value.rfind(".\r\n", 0) == 0) value.erase(0, 1);
  if (value.size() >= 3 && value.compare(value.size() - 3, 3, "\r\n.") == 0) value.pop_back();
  value = StringReplace(value, ":_", ": ", rfReplaceAll);
  return StringReplace(value, "\n.\r", "\n\r", rfReplaceAll);
}

class GeneralReader {
 public:
  explicit GeneralReader(TXMLItem& general) : general_(general) {}

  void Read(const std::vector<std::string>& lines) {
    bool expect_title = true;
    bool skip_dash = false;
    for (const std::string& line : lines) {
      const std::string trimmed = Trim(line);
      if (trimmed.empty()) {
        FinishField();
        group_ = nullptr;
        expect_title = true;
        continue;
      }
      if (expect_title) {
        group_ = &general_.AddChild("Group");
        group_label_ = line.substr(0, line.size() - 1);
        group_has_fields_ = false;
        expect_title = false;
        skip_dash = true;
        continue;
      }
      if (skip_dash) {
        skip_dash = false;
        continue;
      }
      const std::size_t colon = trimmed.find(": ");
      if (colon != npos || trimmed.back() == ':') {
        StartField(trimmed, colon == npos ? trimmed.size() - 1 : colon);
      } else if (line_) {
        value_ += "\r\n" + trimmed;
      }
    }
    FinishField();
  }

 private:
  void StartField(const std::string& trimmed, std::size_t colon) {
    FinishField();
    const std::size_t space = trimmed.find(' ');
    const std::string key = trimmed.substr(0, space);
    if (!group_has_fields_) {
      group_->AddAttribute("ID", key.substr(0, key.find('.')));
      group_->AddAttribute("Label", group_label_);
      group_has_fields_ = true;
    }
    line_ = &group_->AddChild("Line");
    line_->AddAttribute("ID", key);
    const std::size_t label_start = space == npos ? trimmed.size() : space;
    line_->AddAttribute("Label", colon > label_start
                                     ? Trim(std::string_view(trimmed).substr(label_start, colon - label_start))
                                     : std::string());
    value_ = colon + 2 <= trimmed.size() ? trimmed.substr(colon + 2) : std::string();
  }

  void FinishField() {
    if (line_) line_->AddAttribute("Value", UnstoredValue(value_));
    line_ = nullptr;
    value_.clear();
  }

  TXMLItem& general_;
  TXMLItem* group_ = nullptr;
  std::string group_label_;
  bool group_has_fields_ = false;
  TXMLItem* line_ = nullptr;
  std::string value_;
};

// A thread header's parts: the text two characters after its first ":",
// split at ";" and trimmed, an empty last part dropped.
std::vector<std::string> HeaderParts(const std::string& header) {
  const std::size_t colon = header.find(':');
  std::vector<std::string> parts;
  if (colon == npos) return parts;
  std::string_view rest = std::string_view(header).substr(std::min(colon + 2, header.size()));
  for (;;) {
    const std::size_t semicolon = rest.find(';');
    parts.push_back(Trim(rest.substr(0, semicolon)));
    if (semicolon == npos) break;
    rest.remove_prefix(semicolon + 1);
  }
  if (!parts.empty() && parts.back().empty()) parts.pop_back();
  return parts;
}

std::string AfterEquals(const std::string& part) {
  const std::size_t equals = part.find('=');
  return equals == npos ? std::string() : part.substr(equals + 1);
}

void AddThreadAttributes(TXMLItem& thread, const std::vector<std::string>& parts) {
  static const char* const kNames[] = {"ID", "Priority", "Class"};
  for (std::size_t i = 0; i < 3; ++i) {
    if (i < parts.size()) thread.AddAttribute(kNames[i], AfterEquals(parts[i]));
  }
  thread.AddAttribute("MainThread", parts.size() >= 4 ? "True" : "False");
}

int Depth(const TXMLItem* thread, const TXMLItem* call_stack) {
  int depth = 0;
  for (; thread && thread != call_stack; thread = thread->Parent()) ++depth;
  return depth;
}

std::string Serialised(const std::unique_ptr<TXMLItem>& item) {
  return item ? item->AsXml() : std::string();
}

// Every line but the first and the last indented by two more spaces, CR LF
// after every line.
std::string IndentInner(const std::string& text) {
  const std::vector<std::string> lines = SplitLines(text);
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0 && i + 1 < lines.size()) out += "  ";
    out += lines[i];
    out += "\r\n";
  }
  return out;
}

// The "NAME: value" pairs of `count` register rows from `first`, the left
// column's before the right one's, as the 32-bit form orders them; an
// unknown value ("????") is left out.
void AddRegisterPairs(TXMLItem& registers, const std::vector<std::string>& lines, std::size_t first,
                      std::size_t count) {
  std::vector<std::pair<std::string, std::string>> columns[2];
  for (std::size_t row = first; row < first + count && row < lines.size(); ++row) {
    std::vector<std::string> words;
    std::string_view rest = lines[row];
    while (!rest.empty()) {
      const std::size_t start = rest.find_first_not_of(' ');
      if (start == npos) break;
      rest.remove_prefix(start);
      const std::size_t end = rest.find(' ');
      words.emplace_back(rest.substr(0, end));
      rest.remove_prefix(end == npos ? rest.size() : end);
    }
    std::size_t column = 0;
    for (std::size_t w = 0; w + 1 < words.size() && column < 2; ++w) {
      if (words[w].size() < 2 || words[w].back() != ':') continue;
      columns[column++].emplace_back(words[w].substr(0, words[w].size() - 1), words[w + 1]);
      ++w;
    }
  }
  for (const auto& column : columns) {
    for (const auto& [name, value] : column) {
      if (value != "????") registers.AddAttribute(name, value);
    }
  }
}

}  // namespace

std::unique_ptr<TXMLItem> GeneralXmlItem(std::string_view entry) {
  auto general = std::make_unique<TXMLItem>("General");
  std::vector<std::string> lines = SplitLines(EntryGeneralPart(entry));
  if (lines.size() > 2) {
    lines.erase(lines.begin(), lines.begin() + 2);
    GeneralReader(*general).Read(lines);
  }
  return general;
}

std::unique_ptr<TXMLItem> CallStackXmlItem(std::string_view entry) {
  auto call_stack = std::make_unique<TXMLItem>("CallStack");
  TXMLItem* current = nullptr;
  bool have_exception_thread = false;
  if (OlderThanFive(entry)) {
    current = &call_stack->AddChild("ExceptionThread");
    have_exception_thread = true;
  }
  bool top_level_next = true;
  for (const std::string& line : TableBody(EntryCallStackTable(entry))) {
    if (line.rfind("|-", 0) == 0) continue;
    const std::vector<std::string> cells = SplitCells(line);
    if (cells.size() >= 6) {
      if (!current) {
        current = &call_stack->AddChild("ExceptionThread");
        have_exception_thread = true;
        top_level_next = false;
      }
      TXMLItem& row = current->AddChild("Line");
      static const char* const kNames[] = {"Address", "Module", "Unit", "Class", "Procedure"};
      for (std::size_t i = 0; i < 5; ++i) row.AddAttribute(kNames[i], cells[i]);
      const std::string& line_cell = cells[5];
      const std::size_t bracket = line_cell.find('[');
      if (bracket == npos) {
        row.AddAttribute("Number", line_cell);
        row.AddAttribute("Offset", "");
      } else {
        row.AddAttribute("Number", line_cell.substr(0, bracket));
        const std::size_t last = line_cell.size() - 1;
        row.AddAttribute("Offset", last > bracket ? line_cell.substr(bracket + 1, last - bracket - 1) : std::string());
      }
      continue;
    }
    if (cells.empty() || cells[0].empty()) {
      top_level_next = true;
      continue;
    }
    TXMLItem* parent = current;
    const char* name = "CallingThread";
    if (top_level_next || !current) {
      parent = call_stack.get();
      name = have_exception_thread ? "RunningThread" : "ExceptionThread";
      have_exception_thread = true;
      top_level_next = false;
    } else if (Depth(current, call_stack.get()) > kMaxCallingThreadDepth) {
      parent = current->Parent();
    }
    current = &parent->AddChild(name);
    AddThreadAttributes(*current, HeaderParts(cells[0]));
  }
  return call_stack;
}

std::unique_ptr<TXMLItem> ModulesXmlItem(std::string_view entry) {
  auto modules = std::make_unique<TXMLItem>("Modules");
  for (const std::string& line : TableBody(EntryModulesTable(entry))) {
    if (line.rfind("|-", 0) == 0) continue;
    const std::vector<std::string> cells = SplitCells(line);
    TXMLItem& module = modules->AddChild("Module");
    static const char* const kNames[] = {"Handle", "Name", "Description", "Version", "Size"};
    for (std::size_t i = 0; i < 5; ++i) module.AddAttribute(kNames[i], Cell(cells, i));
    if (cells.size() < 7) {
      module.AddAttribute("Path", Cell(cells, 5));
    } else {
      module.AddAttribute("Modified", cells[5]);
      module.AddAttribute("Path", cells[6]);
    }
  }
  return modules;
}

std::unique_ptr<TXMLItem> CpuXmlItem(std::string_view entry) {
  auto cpu = std::make_unique<TXMLItem>("CPU");
  const std::string part = EntryCpuPart(entry);
  if (Trim(part).empty()) return cpu;
  const std::vector<std::string> lines = SplitLines(part);
  auto line_at = [&](std::size_t index) { return index < lines.size() ? std::string_view(lines[index]) : ""; };
  // A 64-bit process's report: nine register rows and 16-digit addresses.
  const bool wide = line_at(2).substr(0, 4) == "RAX:";
  TXMLItem& registers = cpu->AddChild("Registers");
  if (wide) {
    AddRegisterPairs(registers, lines, 2, 9);
  } else {
    // Column 6 holds the left register of lines 2 to 5, column 22 the right one.
    static const char* const kLeft[] = {"EAX", "EBX", "ECX", "EDX"};
    static const char* const kRight[] = {"EDI", "ESI", "ESP", "EIP"};
    for (int column : {5, 21}) {
      for (std::size_t row = 0; row < 4; ++row) {
        const std::string value = Substring(line_at(2 + row), static_cast<std::size_t>(column), 8);
        if (value != kUnknownRegister) registers.AddAttribute(column == 5 ? kLeft[row] : kRight[row], value);
      }
    }
  }
  const std::size_t digits = wide ? 16 : 8;
  const std::size_t first = wide ? 14 : 9;
  const std::size_t dump_address = 2 * digits + 5;
  const std::size_t bytes = dump_address + digits + 2;
  TXMLItem& stack = cpu->AddChild("Stack");
  for (std::size_t i = first; i < lines.size(); ++i) {
    TXMLItem& line = stack.AddChild("Line");
    line.AddAttribute("Address", Substring(lines[i], 0, digits));
    line.AddAttribute("Value", Substring(lines[i], digits + 2, digits));
  }
  TXMLItem& dump = cpu->AddChild("MemoryDump");
  for (std::size_t i = first; i < lines.size(); ++i) {
    TXMLItem& line = dump.AddChild("Line");
    line.AddAttribute("Address", Substring(lines[i], dump_address, digits));
    line.AddAttribute("Bytes", Substring(lines[i], bytes, 47));
    line.AddAttribute("Chars", Substring(lines[i], bytes + 49, 16));
  }
  return cpu;
}

std::string EntryGeneralXml(std::string_view entry) {
  return Serialised(GeneralXmlItem(entry));
}

std::string EntryCallStackXml(std::string_view entry) {
  return Serialised(CallStackXmlItem(entry));
}

std::string EntryModulesXml(std::string_view entry) {
  return Serialised(ModulesXmlItem(entry));
}

std::string EntryCpuXml(std::string_view entry) {
  return Serialised(CpuXmlItem(entry));
}

std::string EntryReproduceXml(std::string_view entry) {
  if (!OlderThanFive(entry)) return std::string();
  TXMLItem reproduce("HoToReproduce");
  reproduce.AddAttribute("Text", EntryReproducePart(entry));
  return reproduce.AsXml();
}

std::string EntryReportXml(std::string_view entry) {
  // The version is encoded like every other value: a damaged first line must
  // not break the document.
  const std::string text = "<Log Version=\"" + EncodeText(EntryVersion(entry)) + "\">\r\n" + EntryGeneralXml(entry) +
                           EntryCallStackXml(entry) + EntryModulesXml(entry) + EntryCpuXml(entry) +
                           EntryReproduceXml(entry) + "</Log>";
  return IndentInner(text);
}

std::string EntriesDocumentXml(const std::vector<std::string>& entries) {
  std::string text = "<Doc>\r\n";
  for (const std::string& entry : entries) text += EntryReportXml(entry);
  text += "</Doc>";
  return IndentInner(text);
}

}  // namespace vellum::exceptlog
