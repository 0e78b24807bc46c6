#include "exceptlog/report/builder/report_tables.h"

#include <algorithm>
#include <array>
#include <deque>
#include <string_view>
#include <variant>

#include "exceptlog/capture/options/customized_texts.h"
#include "exceptlog/report/builder/report_values.h"
#include "runtime/strings/date_time.h"
#include "runtime/strings/format.h"

namespace vellum::exceptlog {

namespace {

// Rows are appended to the section's text where they go: a call stack has
// hundreds, and a string for each cell and each row would be an allocation
// each.
void AppendPadded(std::string& out, std::string_view text, std::size_t width) {
  out += text;
  if (text.size() < width) out.append(width - text.size(), ' ');
}

std::string Padded(std::string_view text, std::size_t width) {
  std::string padded;
  AppendPadded(padded, text, width);
  return padded;
}

template <typename Cells, std::size_t N>
void AppendRow(std::string& out, const Cells& cells, const std::array<std::size_t, N>& widths) {
  out += '|';
  for (std::size_t i = 0; i < N; ++i) {
    AppendPadded(out, cells[i], widths[i]);
    out += '|';
  }
  out += "\r\n";
}

template <std::size_t N>
std::string Row(const std::array<std::string, N>& cells, const std::array<std::size_t, N>& widths) {
  std::string row;
  AppendRow(row, cells, widths);
  return row;
}

void AppendFullWidthRow(std::string& out, std::string_view text, std::size_t inner) {
  out += '|';
  AppendPadded(out, text, inner);
  out += "|\r\n";
}

// A table's column titles are consecutive texts, in column order.
template <std::size_t N>
std::array<std::string, N> Headers(const TRuzadaModuleOptions& options, CustomizedText first) {
  std::array<std::string, N> headers;
  for (std::size_t i = 0; i < N; ++i) headers[i] = options.GetText(first + static_cast<int>(i));
  return headers;
}

template <std::size_t N>
std::size_t Sum(const std::array<std::size_t, N>& widths) {
  std::size_t sum = 0;
  for (std::size_t width : widths) sum += width;
  return sum;
}

std::string EmptySection(const std::string& title) {
  return title + ":\r\n" + std::string(title.size() + 1, '-') + "\r\n\r\n";
}

// An address as the process sees it: a 32-bit process's sums wrap at 4 GB.
std::uint64_t InProcess(std::uint64_t address, AddressWidth width) {
  return width == AddressWidth::k64Bit ? address : address & 0xFFFFFFFFu;
}

// At least `digits` digits; more only for a wider column.
std::string Hex(std::uint64_t address, AddressWidth width, std::size_t digits) {
  return IntToHex(InProcess(address, width), static_cast<int>(digits));
}

std::string Hex(std::uint64_t address, AddressWidth width) {
  return Hex(address, width, static_cast<std::size_t>(AddressDigits(width)));
}

std::string UnknownValue(std::size_t digits) {
  return Padded("????", digits);
}

// "NAME: value" pairs, two to a line: the section's register form.
std::string RegisterLines(const std::vector<std::array<std::string, 2>>& left,
                          const std::vector<std::array<std::string, 2>>& right, std::size_t& widest) {
  const auto cell = [](const std::array<std::string, 2>& pair, std::size_t label) {
    return Padded(pair[0] + ":", label + 1) + " " + pair[1];
  };
  const auto label_width = [](const std::vector<std::array<std::string, 2>>& column) {
    std::size_t width = 0;
    for (const auto& pair : column) width = std::max(width, pair[0].size());
    return width;
  };
  const std::size_t left_label = label_width(left), right_label = label_width(right);
  std::string lines;
  widest = 0;
  for (std::size_t i = 0; i < left.size(); ++i) {
    const std::string line = cell(left[i], left_label) + "   " + cell(right[i], right_label);
    widest = std::max(widest, line.size());
    lines += line + "\r\n";
  }
  return lines;
}

std::string RegistersPart32(const std::string& title, const CpuInput& input) {
  const CpuRegisters* registers = std::get_if<CpuRegisters>(&input.registers);
  const auto reg = [&](std::uint32_t CpuRegisters::*field) {
    return registers != nullptr ? IntToHex(registers->*field, 8) : UnknownValue(8);
  };
  return Format(
      "%s:\r\n-----------------------------\r\nEAX: %s   EDI: %s\r\nEBX: %s   ESI: %s\r\nECX: %s   ESP: %s\r\n"
      "EDX: %s   EIP: %s\r\n",
      title, reg(&CpuRegisters::eax), reg(&CpuRegisters::edi), reg(&CpuRegisters::ebx), reg(&CpuRegisters::esi),
      reg(&CpuRegisters::ecx), reg(&CpuRegisters::esp), reg(&CpuRegisters::edx), reg(&CpuRegisters::eip));
}

// The general registers left, the numbered ones right; RIP and the flags
// close the two columns as EIP closes the 32-bit form.
std::string RegistersPart64(const std::string& title, const CpuInput& input) {
  const CpuRegisters64* registers = std::get_if<CpuRegisters64>(&input.registers);
  const auto reg = [&](const char* name, std::uint64_t CpuRegisters64::*field) -> std::array<std::string, 2> {
    return {name, registers != nullptr ? IntToHex(registers->*field, 16) : UnknownValue(16)};
  };
  const std::vector<std::array<std::string, 2>> left = {
      reg("RAX", &CpuRegisters64::rax), reg("RBX", &CpuRegisters64::rbx), reg("RCX", &CpuRegisters64::rcx),
      reg("RDX", &CpuRegisters64::rdx), reg("RSI", &CpuRegisters64::rsi), reg("RDI", &CpuRegisters64::rdi),
      reg("RBP", &CpuRegisters64::rbp), reg("RSP", &CpuRegisters64::rsp), reg("RIP", &CpuRegisters64::rip)};
  const std::vector<std::array<std::string, 2>> right = {
      reg("R8", &CpuRegisters64::r8),
      reg("R9", &CpuRegisters64::r9),
      reg("R10", &CpuRegisters64::r10),
      reg("R11", &CpuRegisters64::r11),
      reg("R12", &CpuRegisters64::r12),
      reg("R13", &CpuRegisters64::r13),
      reg("R14", &CpuRegisters64::r14),
      reg("R15", &CpuRegisters64::r15),
      {"EFLAGS", registers != nullptr ? IntToHex(registers->eflags, 8) : UnknownValue(8)}};
  std::size_t widest = 0;
  const std::string lines = RegisterLines(left, right, widest);
  return title + ":\r\n" + std::string(widest, '-') + "\r\n" + lines;
}

// 16 lines: a stack word beside 16 bytes of code, then those bytes as text.
std::string DumpLines(const CpuInput& input) {
  const AddressWidth width = input.address_width;
  const std::size_t word = StackDumpBytes(width) / kStackDumpWords;
  std::string dump;
  for (std::size_t i = 0; i < kStackDumpWords; ++i) {
    std::uint64_t value = 0;
    for (std::size_t b = 0; b < word; ++b) value |= static_cast<std::uint64_t>((*input.stack)[word * i + b]) << (8 * b);
    dump += Hex(input.stack_pointer + word * i, width) + ": " + Hex(value, width) + "   " +
            Hex(input.address + 16 * i, width) + ": ";
    std::string characters;
    for (std::size_t b = 0; b < 16; ++b) {
      const std::uint8_t byte = (*input.code)[16 * i + b];
      dump += IntToHex(byte, 2) + " ";
      characters += byte < 32 || byte > 126 ? '.' : static_cast<char>(byte);
    }
    dump += " " + characters + "\r\n";
  }
  return dump;
}

bool RegistersFitWidth(const CpuInput& input) {
  if (std::holds_alternative<CpuRegisters>(input.registers)) return input.address_width == AddressWidth::k32Bit;
  if (std::holds_alternative<CpuRegisters64>(input.registers)) return input.address_width == AddressWidth::k64Bit;
  return true;
}

}  // namespace

int AddressDigits(AddressWidth width) {
  return width == AddressWidth::k64Bit ? 16 : 8;
}

std::size_t StackDumpBytes(AddressWidth width) {
  return kStackDumpWords * (width == AddressWidth::k64Bit ? 8 : 4);
}

bool StackEntryShown(const TRuzadaDebugInfo& entry, TStackFlags flags) {
  switch (entry.Kind) {
    case dkDebugData: return true;
    case dkExportedName: return flags.Contains(skLibraryFrames);
    case dkExportedUnit: return flags.Contains(skPackageFrames);
    default: return false;
  }
}

namespace {

// A call stack row's cells: the names are the entry's own.
struct StackRowCells {
  std::string address;
  std::string line;
  std::array<std::string_view, 6> cells;

  StackRowCells(const TRuzadaDebugInfo& entry, bool procedure_lines, AddressWidth width)
      : address(Hex(entry.Address, width)) {
    if (entry.Line != 0) {
      line = std::to_string(entry.Line);
      if (procedure_lines) line += "[" + std::to_string(entry.ProcedureLine) + "]";
    }
    const std::string_view module =
        entry.Module != nullptr ? FileNamePartOf(entry.Module->FileName) : std::string_view();
    cells = {address, module, entry.UnitName, entry.ClassName, entry.ProcedureName, line};
  }
  // The views of `address` and `line` would point into the moved-from object.
  StackRowCells(const StackRowCells&) = delete;
  StackRowCells& operator=(const StackRowCells&) = delete;
};

}  // namespace

std::array<std::string, 6> StackEntryCells(const TRuzadaDebugInfo& entry, bool procedure_lines, AddressWidth width) {
  const StackRowCells row(entry, procedure_lines, width);
  std::array<std::string, 6> cells;
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = std::string(row.cells[i]);
  return cells;
}

std::string ThreadHeaderText(const TRuzadaModuleOptions& options, const CallStackInput& input,
                             const TRuzadaDebugInfo& entry, bool first_group) {
  // The first group is the raising thread's own stack, even when the entry
  // at the very top is not one the options show.
  const CustomizedText kind = first_group && entry.ThreadId == input.entries->Items(0).ThreadId ? kTextThreadException
                              : entry.FromLiveStack != 0                                        ? kTextThreadRunning
                                                                                                : kTextThreadCalling;
  const std::optional<ThreadFacts> facts =
      input.thread_facts ? input.thread_facts(entry.ThreadId) : std::optional<ThreadFacts>();
  std::string header = options.GetText(kind) + ": " +
                       Format("%s=%d; %s=%s", options.GetText(kTextThreadId), entry.ThreadId,
                              options.GetText(kTextThreadPriority), facts ? facts->priority : std::string("??")) +
                       Format("; %s=%s", options.GetText(kTextThreadClass), facts ? facts->class_name : std::string());
  if (entry.ThreadId == input.main_thread_id) header += "; [" + options.GetText(kTextThreadMain) + "]";
  return header;
}

std::string CallStackSection(const TRuzadaModuleOptions& options, const CallStackInput& input) {
  const auto progress = [&](int code) {
    if (input.progress) input.progress(code);
  };
  const TStackFlags flags = options.StackFlags();
  const bool procedure_lines = flags.Contains(skProcedureLines);
  const auto headers = Headers<6>(options, kTextCallStackAddress);
  std::array<std::size_t, 6> widths{};
  for (std::size_t i = 0; i < widths.size(); ++i) widths[i] = headers[i].size();
  widths[0] = std::max<std::size_t>(widths[0], static_cast<std::size_t>(AddressDigits(input.address_width)));

  std::vector<int> shown;
  // Made in place and never moved: their views of their own texts stay good.
  std::deque<StackRowCells> cells;
  if (input.entries != nullptr) {
    for (int i = 0; i < input.entries->Count(); ++i) {
      const TRuzadaDebugInfo& entry = input.entries->Items(i);
      if (!StackEntryShown(entry, flags)) continue;
      shown.push_back(i);
      const auto& row = cells.emplace_back(entry, procedure_lines, input.address_width).cells;
      for (std::size_t c = 0; c < widths.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
  }
  progress(7027);
  const std::size_t inner = Sum(widths) + 5;
  const std::string dashes(inner + 2, '-');
  const std::string group_dashes = "|" + std::string(inner, '-') + "|\r\n";

  progress(7028);
  const std::string& title = options.GetText(kTextDialogCallStackHeader);
  // Each row is as wide as the table; a thread's group adds three rows.
  std::string text;
  text.reserve(title.size() + (2 * shown.size() + 8) * (inner + 4));
  text += title;
  text += ":\r\n";
  text += dashes;
  text += "\r\n";
  AppendRow(text, headers, widths);
  text += dashes;
  text += "\r\n";

  progress(7029);
  progress(7030);
  progress(7031);
  const TRuzadaDebugInfo* previous = nullptr;
  for (std::size_t s = 0; s < shown.size(); ++s) {
    const TRuzadaDebugInfo& entry = input.entries->Items(shown[s]);
    progress(7032);
    const bool new_group =
        previous == nullptr || entry.ThreadId != previous->ThreadId || entry.FromLiveStack != previous->FromLiveStack;
    if (new_group) {
      progress(7033);
      if (previous != nullptr) {
        text += group_dashes;
        progress(7034);
        if (entry.FromLiveStack != 0) AppendFullWidthRow(text, "", inner);
      }
      progress(7035);
      progress(7036);
      const std::string header = " " + ThreadHeaderText(options, input, entry, previous == nullptr);
      AppendFullWidthRow(text, header, inner);
      progress(7037);
      text += group_dashes;
    }
    progress(7038);
    AppendRow(text, cells[s].cells, widths);
    progress(7039);
    previous = &entry;
  }
  progress(7040);
  text += dashes;
  text += "\r\n\r\n";
  return text;
}

std::string ModuleFolder(const std::string& path) {
  const std::size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos) return {};
  // "C:\" keeps its backslash: "C:" alone names the drive's current folder.
  if (slash == 2 && path[1] == ':') return path.substr(0, 3);
  return path.substr(0, slash);
}

std::string ModulesSection(const TRuzadaModuleOptions& options, const std::vector<ModuleRow>& modules,
                           AddressWidth width) {
  const std::string& title = options.GetText(kTextDialogModulesHeader);
  if (!options.LogFlags().Contains(lfModulesSection)) return EmptySection(title);
  const auto headers = Headers<7>(options, kTextModulesHandle);
  std::array<std::size_t, 7> widths{};
  for (std::size_t i = 0; i < widths.size(); ++i) widths[i] = headers[i].size();
  widths[0] = std::max<std::size_t>(widths[0], static_cast<std::size_t>(AddressDigits(width)));
  std::vector<std::array<std::string, 7>> rows;
  for (const ModuleRow& module : modules) {
    std::array<std::string, 7> cells = {
        Hex(module.handle, width, widths[0]),
        FileNameOf(module.path),
        module.description,
        module.version,
        std::to_string(module.size),
        module.modified != 0 ? FormatDateTime("yyyy-mm-dd hh:nn:ss", SerialToDateTime(module.modified)) : std::string(),
        ModuleFolder(module.path)};
    for (std::size_t c = 1; c < widths.size(); ++c) widths[c] = std::max(widths[c], cells[c].size());
    rows.push_back(std::move(cells));
  }
  const std::string dashes(Sum(widths) + 8, '-');
  std::string text = title + ":\r\n" + dashes + "\r\n" + Row(headers, widths) + dashes + "\r\n";
  for (const auto& cells : rows) AppendRow(text, cells, widths);
  return text + dashes + "\r\n\r\n";
}

std::string CpuSection(const TRuzadaModuleOptions& options, const CpuInput& input) {
  const std::string& title = options.GetText(kTextCpuRegisters);
  if (!options.LogFlags().Contains(lfCpuSection)) return EmptySection(title);
  if (!RegistersFitWidth(input)) throw EReportLayoutError("The registers are not of the report's process width.");
  const bool wide = input.address_width == AddressWidth::k64Bit;
  const std::size_t digits = static_cast<std::size_t>(AddressDigits(input.address_width));
  // Stack: "ADDRESS: VALUE", then three spaces before the dump's column.
  const std::size_t stack_column = 2 * digits + 2;
  const std::size_t dump_column = digits + 2 + 16 * 3 + 1 + 16;
  std::string stack_title = options.GetText(kTextCpuStack) + ":";
  if (stack_title.size() < stack_column + 3) stack_title.resize(stack_column + 3, ' ');
  return (wide ? RegistersPart64(title, input) : RegistersPart32(title, input)) + "\r\n" + stack_title +
         options.GetText(kTextCpuMemoryDump) + ":\r\n" + std::string(stack_column, '-') + "   " +
         std::string(dump_column, '-') + "\r\n" + (input.stack && input.code ? DumpLines(input) : std::string());
}

}  // namespace vellum::exceptlog
