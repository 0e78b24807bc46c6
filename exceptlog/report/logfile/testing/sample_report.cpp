#include "exceptlog/report/logfile/testing/sample_report.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace vellum::exceptlog::testing {

namespace {

using Field = std::pair<std::string, std::string>;  // "2.5 Message", value

// A general section block: the title, a dash line as wide as the widest
// line, the fields with their ": " aligned, continuation lines under the
// value.
std::string Section(const std::string& title, const std::vector<Field>& fields) {
  std::size_t prefix = 0;
  for (const Field& field : fields) prefix = std::max(prefix, field.first.size() + 2);
  std::vector<std::string> lines;
  for (const Field& field : fields) {
    std::string head = "  " + field.first;
    head.resize(prefix, ' ');
    std::string value = field.second;
    std::string line = head + ": ";
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = value.find("\r\n", start);
      const std::string part = value.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (start > 0)
        line = std::string(prefix + 1, ' ') + part;
      else
        line += part;
      lines.push_back(line);
      if (end == std::string::npos) break;
      start = end + 2;
    }
  }
  std::size_t width = title.size() + 1;
  for (const std::string& line : lines) width = std::max(width, line.size());
  std::string text = title + ":\r\n" + std::string(width, '-') + "\r\n";
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string Pad(std::string text, std::size_t width) {
  text.resize(std::max(width, text.size()), ' ');
  return text;
}

std::string Row(const std::vector<std::string>& cells, const std::vector<std::size_t>& widths) {
  std::string row = "|";
  for (std::size_t i = 0; i < cells.size(); ++i) row += Pad(cells[i], widths[i]) + "|";
  return row + "\r\n";
}

std::string Table(const std::string& title, const std::vector<std::string>& headers,
                  const std::vector<std::vector<std::string>>& rows, const std::vector<std::string>& full_rows_before) {
  std::vector<std::size_t> widths;
  for (std::size_t i = 0; i < headers.size(); ++i) {
    std::size_t width = std::max<std::size_t>(headers[i].size(), i == 0 ? 8 : 0);
    for (const auto& row : rows) width = std::max(width, row[i].size());
    widths.push_back(width);
  }
  std::size_t z = 0;
  for (std::size_t width : widths) z += width;
  const std::string dashes(z + headers.size() + 1, '-');
  std::string text = title + ":\r\n" + dashes + "\r\n" + Row(headers, widths) + dashes + "\r\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i < full_rows_before.size() && !full_rows_before[i].empty()) {
      // Full-width rows given as "-" (group dash row), " " (empty row) or a
      // thread header, several separated by "\n".
      std::size_t start = 0;
      const std::string& wanted_rows = full_rows_before[i];
      for (;;) {
        const std::size_t end = wanted_rows.find('\n', start);
        const std::string item = wanted_rows.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::size_t inner = z + headers.size() - 1;
        if (item == "-")
          text += "|" + std::string(inner, '-') + "|\r\n";
        else
          text += "|" + Pad(item == " " ? std::string() : item, inner) + "|\r\n";
        if (end == std::string::npos) break;
        start = end + 1;
      }
    }
    text += Row(rows[i], widths);
  }
  return text + dashes + "\r\n\r\n";
}

std::string Hex8(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

std::string Hex16(unsigned long long value) {
  char text[24];
  std::snprintf(text, sizeof text, "%016llX", value);
  return text;
}

// Row `row` of a memory dump: sixteen bytes in hexadecimal, then as characters.
std::string DumpBytes(unsigned row) {
  std::string hex_part;
  std::string chars;
  for (unsigned b = 0; b < 16; ++b) {
    const unsigned byte = (row * 16 + b) & 0xFF;
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X ", byte);
    hex_part += hex;
    chars += byte < 32 || byte > 126 ? '.' : static_cast<char>(byte);
  }
  return hex_part + " " + chars;
}

std::string CpuSection64(bool known) {
  auto reg = [&](unsigned long long value) { return known ? Hex16(value) : Pad("????", 16); };
  const char* const left[] = {"RAX", "RBX", "RCX", "RDX", "RSI", "RDI", "RBP", "RSP", "RIP"};
  const char* const right[] = {"R8", "R9", "R10", "R11", "R12", "R13", "R14", "R15"};
  const unsigned long long rsp = 0x000000000014FE00, rip = 0x000000016B40100A;
  std::string text = "Registers:\r\n" + std::string(48, '-') + "\r\n";
  for (unsigned i = 0; i < 9; ++i) {
    const unsigned long long value = i == 7 ? rsp : i == 8 ? rip : 0x11ULL * (i + 1) + 0x0000000100000000ULL;
    text += std::string(left[i]) + ": " + reg(value) + "   ";
    text += i < 8 ? Pad(std::string(right[i]) + ":", 7) + " " + reg(0x80 + i)
                  : "EFLAGS: " + (known ? Hex8(0x246) : Pad("????", 8));
    text += "\r\n";
  }
  text +=
      "\r\n" + Pad("Stack:", 37) + "Memory Dump:\r\n" + std::string(34, '-') + "   " + std::string(83, '-') + "\r\n";
  for (unsigned i = 0; i < 16; ++i) {
    text += Hex16(rsp + 8 * i) + ": " + Hex16(0x00007FFB000000A0ULL + i) + "   " + Hex16(rip + 16 * i) + ": " +
            DumpBytes(i) + "\r\n";
  }
  return text;
}

std::string CpuSection(bool with_dump, bool known) {
  auto reg = [&](unsigned value) { return known ? Hex8(value) : std::string("????    "); };
  std::string text = "Registers:\r\n-----------------------------\r\n";
  text += "EAX: " + reg(0x11) + "   EDI: " + reg(0x55) + "\r\n";
  text += "EBX: " + reg(0x22) + "   ESI: " + reg(0x66) + "\r\n";
  text += "ECX: " + reg(0x33) + "   ESP: " + reg(0x0012FF00) + "\r\n";
  text += "EDX: " + reg(0x44) + "   EIP: " + reg(0x0040100A) + "\r\n\r\n";
  text += Pad("Stack:", 21) + "Memory Dump:\r\n" + std::string(18, '-') + "   " + std::string(75, '-') + "\r\n";
  if (!with_dump) return text;
  for (unsigned i = 0; i < 16; ++i) {
    text += Hex8(0x0012FF00 + 4 * i) + ": " + Hex8(0xA0 + i) + "   " + Hex8(0x00401000 + 16 * i) + ": " + DumpBytes(i) +
            "\r\n";
  }
  return text;
}

}  // namespace

std::string BuildSampleReport(const SampleReport& sample) {
  std::string general = "DeveruVuz " + sample.version + "\r\n\r\n";
  general += Section("Application", {{"1.1 Start Date", "Mon, 7 Dec 2026 13:00:00 +0000"},
                                     {"1.2 Name/Description", "crash_sample.exe"},
                                     {"1.3 Version Number", sample.application_version},
                                     {"1.4 Parameters", "\"/fault\""}});
  std::vector<Field> exception = {
      {"2.1 Date", "Mon, 7 Dec 2026 13:05:00 +0000"}, {"2.2 Address", sample.address}, {"2.3 Module", sample.module}};
  if (sample.show_type) exception.push_back({"2.4 Type", sample.type});
  exception.push_back({"2.5 Message", sample.message});
  general += "\r\n" + Section("Exception", exception);
  general += "\r\n" + Section("Computer", {{"4.1 Name", "BUILDBOX"}, {"4.8 Processor", "Intel(R) x86"}});
  general += "\r\n" + Section("Network", {{"6.1 IP Address", "010.000.002.015"}, {"6.6 DHCP", "ON              "}});

  const std::vector<std::string> stack_headers = {"Address", "Module", "Unit", "Class", "Procedure/Method", "Line"};
  const std::string high = sample.wide ? "00000001" : "";  // the upper half of a 64-bit address
  std::vector<std::vector<std::string>> stack_rows = {
      {high + (sample.wide ? "6B40100A" : "0040100A"), sample.module, "faults.cpp", "TFaults", "WriteNull", "42[3]"},
      {high + "00401200", sample.module, "main.cpp", "", "main", "10"}};
  std::vector<std::string> full_rows = {" Exception Thread: ID=1044; Priority=0; Class=; [Main]"};
  if (sample.second_thread) {
    stack_rows.push_back({high + "00402000", sample.module, "worker.cpp", "TWorker", "Execute", "77"});
    stack_rows.push_back({high + "00402100", sample.module, "starter.cpp", "TStarter", "Start", ""});
    full_rows.resize(4);
    full_rows[2] = "-\n \n Running Thread: ID=2048; Priority=1; Class=TWorker\n-";
    full_rows[3] = " Calling Thread: ID=1044; Priority=0; Class=; [Main]\n-";
  }
  full_rows[0] += "\n-";
  std::string tables = Table("Call Stack Information", stack_headers, stack_rows, full_rows);
  if (sample.modules) {
    tables += Table("Modules Information", {"Handle", "Name", "Description", "Version", "Size", "Modified", "Path"},
                    {{sample.wide ? "000000016B400000" : "00400000", sample.module, "Crash sample", "1.2.0.7", "81920",
                      "2026-12-07 12:00:00", "C:\\work"},
                     {sample.wide ? "00007FFB7C800000" : "7C800000", "kernel32.dll", "Windows & more", "5.1.2600.0",
                      "983552", "", "C:\\windows\\system32"}},
                    {});
  } else {
    tables += "Modules Information:\r\n" + std::string(20, '-') + "\r\n\r\n";
  }
  const std::string cpu = !sample.cpu   ? "Registers:\r\n----------\r\n\r\n"
                          : sample.wide ? CpuSection64(sample.known_registers)
                                        : CpuSection(true, sample.known_registers);
  return general + "\r\n" + tables + cpu;
}

std::string BuildOldSampleReport(const std::string& steps) {
  std::string text = "DeveruVuz 4.2.8\r\n\r\n";
  text += Section("Application", {{"1.3 Version Number", "1.0.0.0"}});
  text += "\r\n" + Section("Exception", {{"2.5 Message", "Old fault."}});
  text += "\r\n";
  text += Table("Call Stack Information", {"Address", "Module", "Unit", "Class", "Procedure/Method", "Line"},
                {{"00401000", "old.exe", "old.pas", "", "Run", "7"}}, {});
  text += Table("Modules Information", {"Handle", "Name", "Description", "Version", "Size", "Path"},
                {{"00400000", "old.exe", "", "1.0", "4096", "C:\\old"}}, {});
  text += "Registers:\r\n----------\r\nEAX: 00000001   EDI: 00000002\r\n\r\n";
  text += "Assembler Information:\r\n----------------------\r\n; none\r\n\r\n";
  text += "Reproduce:\r\n----------\r\n" + steps + "\r\n";
  return text;
}

}  // namespace vellum::exceptlog::testing
