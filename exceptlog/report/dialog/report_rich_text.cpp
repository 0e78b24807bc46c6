#include "exceptlog/report/dialog/report_rich_text.h"

#include <vector>

#include "runtime/strings/format.h"

namespace vellum::exceptlog {

namespace {

// RTF's own characters escaped, bytes above 127 as \'hh (a reader may take
// raw 8-bit bytes in another code page than the report's), each line ending
// in \par. The lines come back without their CR LF.
std::vector<std::string> EscapedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      lines.push_back(line + "\\par");
      line.clear();
      ++i;
    } else if (byte == '\\' || byte == '{' || byte == '}') {
      line += '\\';
      line += static_cast<char>(byte);
    } else if (byte > 127) {
      line += "\\'" + IntToHex(byte, 2);
    } else {
      line += static_cast<char>(byte);
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string Document(const std::vector<std::string>& lines, const RichTextFont& font) {
  std::string text = Format(
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1040{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset%d %s;}}\r\n"
      "{\\colortbl ;\\red0\\green100\\blue100;\\red0\\green0\\blue0;\\red40\\green40\\blue40;\\red0\\green0\\blue160;}"
      "\r\n",
      font.character_set, font.face);
  text += "\\f0\\fs" + std::to_string(2 * font.points) + "\r\n";
  for (const std::string& line : lines) text += line + "\r\n";
  return text + "}";
}

// Inserts at a 1-based position; past the end appends.
void InsertAt(std::string& line, const std::string& what, std::size_t position) {
  line.insert(std::min(position - 1, line.size()), what);
}
void ReplaceAt(std::string& line, std::size_t position, std::size_t count, const std::string& with) {
  if (position - 1 >= line.size()) return;
  line.replace(position - 1, count, with);
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Where things stand in a CPU section, as 1-based columns of the report's
// own text; a 32-bit and a 64-bit process's sections differ only in these.
struct CpuLayout {
  std::size_t last_register_line;
  std::size_t shortest_register_line;  // with its \par; shorter rows are left plain
  std::size_t left_value, left_value_end, right_value, right_value_end;
  std::size_t titles_line;  // the stack and memory dump titles; their dashes follow
  std::size_t dump_column;  // 0-based, where the dump's title starts
  std::size_t shortest_stack_line;
  std::size_t word, word_end, bytes, bytes_end;  // a stack line: "address: word   address: bytes  characters"
};

// Four register rows of two 8-digit columns; stack lines with 8-digit addresses.
constexpr CpuLayout kCpuLayout32{6, 20, 6, 14, 22, 30, 8, 21, 30, 11, 19, 32, 79};
// Nine register rows of two 16-digit columns (EFLAGS has 8 digits); stack
// lines with 16-digit addresses and words.
constexpr CpuLayout kCpuLayout64{11, 40, 6, 22, 33, 49, 13, 37, 60, 19, 35, 56, 103};

bool Is64BitCpuSection(const std::string& cpu) {
  return cpu.find("\r\nRAX: ") != std::string::npos;
}

}  // namespace

std::size_t CpuDumpColumn(const std::string& cpu) {
  return (Is64BitCpuSection(cpu) ? kCpuLayout64 : kCpuLayout32).dump_column;
}

std::string GeneralRichText(const std::string& general, const RichTextFont& font) {
  std::vector<std::string> lines = EscapedLines(general);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string& line = lines[i];
    if (i == 0) {
      line = "\\cf1\\b " + line + "\\b0";
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && line.size() == colon + 5) {  // "Title:\par"
      line = "\\cf3\\b " + line + "\\b0";
    } else if (!line.empty() && line[0] == '-') {
      line = "\\cf3 " + line;
    } else if (const std::size_t label = line.find(": "); label != std::string::npos) {
      line = "\\cf2 " + line.substr(0, label + 1) + "\\cf4 " + line.substr(label + 1);
    }
  }
  return Document(lines, font);
}

std::string CpuRichText(const std::string& cpu, const RichTextFont& font, int dump_tab_twips) {
  const CpuLayout& layout = Is64BitCpuSection(cpu) ? kCpuLayout64 : kCpuLayout32;
  std::vector<std::string> lines = EscapedLines(cpu);
  // Marks go in from the right, so that each position is the report's own column.
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string& line = lines[i];
    const std::size_t number = i + 1;
    if (number == 1) {
      line = "\\cf3\\b " + line + "\\cf2\\b0";
    } else if (number == 2) {
      line = "\\cf3 " + line + "\\cf2";
    } else if (number <= layout.last_register_line) {
      if (line.size() < layout.shortest_register_line) continue;  // registers: names black, values blue
      // A shorter right value (EFLAGS in 64 bits) goes back to black before the \par.
      InsertAt(line, "\\cf2 ", std::min(layout.right_value_end, line.size() - 3));
      InsertAt(line, "\\cf4 ", layout.right_value);
      InsertAt(line, "\\cf2 ", layout.left_value_end);
      InsertAt(line, "\\cf4 ", layout.left_value);
    } else if (number == layout.titles_line) {
      const std::size_t column = layout.dump_column;
      const std::string first = Trimmed(line.substr(0, std::min(column, line.size())));
      const std::string rest = line.size() > column ? Trimmed(line.substr(column)) : std::string();
      line = "\\pard\\tx" + std::to_string(dump_tab_twips) + "\\cf3\\b " + first + "\\tab " + rest + "\\cf2\\b0";
    } else if (number == layout.titles_line + 1) {
      ReplaceAt(line, layout.dump_column - 2, 3, "\\tab ");
      line = "\\cf3 " + line + "\\cf2";
    } else if (number > layout.titles_line + 1) {
      if (line.size() < layout.shortest_stack_line) continue;  // address black, word and bytes blue, characters black
      InsertAt(line, "\\cf2 ", layout.bytes_end);
      InsertAt(line, "\\cf4 ", layout.bytes);
      ReplaceAt(line, layout.word_end, 3, "\\tab ");
      InsertAt(line, "\\cf2 ", layout.word_end);
      InsertAt(line, "\\cf4 ", layout.word);
    }
  }
  return Document(lines, font);
}

}  // namespace vellum::exceptlog
