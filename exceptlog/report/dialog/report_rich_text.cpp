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

// A 64-bit process's section: nine register rows of two 16-digit columns
// (EFLAGS 8 digits), then a blank line, the titles, the dashes and the stack
// lines "address: word   address: bytes  characters" with 16-digit addresses.
bool Is64BitCpuSection(const std::string& cpu) {
  return cpu.find("\r\nRAX: ") != std::string::npos;
}

std::string CpuRichText64(const std::string& cpu, const RichTextFont& font, int dump_tab_twips) {
  constexpr std::size_t kDump = 37;
  std::vector<std::string> lines = EscapedLines(cpu);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string& line = lines[i];
    const std::size_t number = i + 1;
    if (number == 1) {
      line = "\\cf3\\b " + line + "\\cf2\\b0";
    } else if (number == 2) {
      line = "\\cf3 " + line + "\\cf2";
    } else if (number <= 11) {
      if (line.size() < 40) continue;  // registers: names black, values blue
      // The right column's value ends at the line's end for EFLAGS, which
      // has fewer digits; the colour goes back to black before the \par.
      const std::size_t right_end = std::min<std::size_t>(48, line.size() - 4) + 1;
      InsertAt(line, "\\cf2 ", right_end);
      InsertAt(line, "\\cf4 ", 33);
      InsertAt(line, "\\cf2 ", 22);
      InsertAt(line, "\\cf4 ", 6);
    } else if (number == 13) {  // the stack and memory dump titles
      const std::string first = Trimmed(line.substr(0, std::min(kDump, line.size())));
      const std::string rest = line.size() > kDump ? Trimmed(line.substr(kDump)) : std::string();
      line = "\\pard\\tx" + std::to_string(dump_tab_twips) + "\\cf3\\b " + first + "\\tab " + rest + "\\cf2\\b0";
    } else if (number == 14) {
      ReplaceAt(line, kDump - 2, 3, "\\tab ");
      line = "\\cf3 " + line + "\\cf2";
    } else if (number > 14) {
      if (line.size() < 60) continue;  // address black, stack word and bytes blue, characters black
      // From the right, so that each position is the report's own column.
      InsertAt(line, "\\cf2 ", 103);
      InsertAt(line, "\\cf4 ", 56);
      ReplaceAt(line, 35, 3, "\\tab ");
      InsertAt(line, "\\cf2 ", 35);
      InsertAt(line, "\\cf4 ", 19);
    }
  }
  return Document(lines, font);
}

}  // namespace

std::size_t CpuDumpColumn(const std::string& cpu) {
  return Is64BitCpuSection(cpu) ? 37 : 21;
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
  if (Is64BitCpuSection(cpu)) return CpuRichText64(cpu, font, dump_tab_twips);
  std::vector<std::string> lines = EscapedLines(cpu);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string& line = lines[i];
    const std::size_t number = i + 1;
    if (number == 1) {
      line = "\\cf3\\b " + line + "\\cf2\\b0";
    } else if (number == 2) {
      line = "\\cf3 " + line + "\\cf2";
    } else if (number <= 6) {
      if (line.size() < 20) continue;  // registers: names black, values blue
      InsertAt(line, "\\cf4 ", 6);
      InsertAt(line, "\\cf2 ", 19);
      InsertAt(line, "\\cf4 ", 32);
      InsertAt(line, "\\cf2 ", 45);
    } else if (number == 8) {  // the stack and memory dump titles
      const std::string first = Trimmed(line.substr(0, std::min<std::size_t>(21, line.size())));
      const std::string rest = line.size() > 21 ? Trimmed(line.substr(21)) : std::string();
      line = "\\pard\\tx" + std::to_string(dump_tab_twips) + "\\cf3\\b " + first + "\\tab " + rest + "\\cf2\\b0";
    } else if (number == 9) {
      ReplaceAt(line, 19, 3, "\\tab ");
      line = "\\cf3 " + line + "\\cf2";
    } else if (number > 9) {
      if (line.size() < 30) continue;  // address black, stack value and bytes blue, characters black
      InsertAt(line, "\\cf4 ", 11);
      InsertAt(line, "\\cf2 ", 24);
      ReplaceAt(line, 29, 3, "\\tab ");
      InsertAt(line, "\\cf4 ", 44);
      InsertAt(line, "\\cf2 ", 96);
    }
  }
  return Document(lines, font);
}

}  // namespace vellum::exceptlog
