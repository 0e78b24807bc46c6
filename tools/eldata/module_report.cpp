#include "tools/eldata/module_report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "exceptlog/capture/debugdata/line_table.h"
#include "exceptlog/capture/debugdata/symbol_table.h"
#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/debuginfo/stamp.h"
#include "runtime/strings/date_time.h"
#include "tools/eldata/option_fields.h"

namespace vellum::eldata {
namespace {

std::string Hex(std::uint64_t value, int digits) {
  char text[17];
  std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string DateText(double serial) {
  return FormatDateTime("yyyy-mm-dd hh:nn:ss", SerialToDateTime(serial));
}

bool IsReturn(std::uint8_t byte) {
  return byte == 0xC2 || byte == 0xC3 || byte == 0xCA || byte == 0xCB;
}

}  // namespace

std::uint32_t EstimatedProcedureSize(std::span<const std::uint8_t> code, std::uint32_t code_rva, std::uint32_t rva) {
  if (rva < code_rva || rva - code_rva >= code.size()) return 1;
  const auto body = code.subspan(rva - code_rva);
  const bool framed = body[0] == 0x55;
  for (std::size_t i = 1; i < body.size(); ++i) {
    if (framed) {
      if ((body[i - 1] == 0x5D || body[i - 1] == 0xC9) && IsReturn(body[i])) return static_cast<std::uint32_t>(i);
    } else if (IsReturn(body[i])) {
      return static_cast<std::uint32_t>(i);
    }
  }
  if (!framed && IsReturn(body[0])) return 0;
  return 1;
}

ModuleReport::ModuleReport(std::vector<std::uint8_t> file, const std::string& password) : image_(std::move(file)) {
  const auto request = [password](const std::string&) { return password; };
  if (const auto resource = image_.FindResource(exceptlog::kRawDataResource, "ELDATA")) {
    block_ = exceptlog::ReadStoredBlock(*resource, false, request);
  }
  if (!block_) block_ = exceptlog::ReadAppendedStoredBlock(image_.FileBytes(), false);
  if (block_ && block_->HasDebugData) index_ = std::make_unique<exceptlog::DebugDataIndex>(exceptlog::ViewOf(*block_));
  exports_ = image_.Exports();
  std::sort(exports_.begin(), exports_.end(),
            [](const exceptlog::PeExport& a, const exceptlog::PeExport& b) { return a.Rva < b.Rva; });
}

std::string ModuleReport::AddressText(std::uint64_t address) const {
  return Hex(address, image_.IsPe32Plus() ? 16 : 8);
}

std::optional<std::uint64_t> ModuleReport::ParseAddress(const std::string& text) const {
  std::string digits = text;
  const bool relative = !digits.empty() && digits.front() == '+';
  if (relative) digits.erase(0, 1);
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.erase(0, 2);
  // An offset from the base is an RVA: 32 bits in either format.
  const std::size_t max_digits = image_.IsPe32Plus() && !relative ? 16 : 8;
  if (digits.empty() || digits.size() > max_digits ||
      digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    return std::nullopt;
  }
  const std::uint64_t value = std::stoull(digits, nullptr, 16);
  if (!relative) return value;
  const std::uint64_t address = image_.ImageBase() + value;
  const std::uint64_t largest = image_.IsPe32Plus() ? ~std::uint64_t{0} : 0xFFFFFFFFu;
  if (address < value || address > largest) return std::nullopt;
  return address;
}

std::string ModuleReport::ExportedPlace(std::uint32_t rva) const {
  // The nearest export at or before the address whose estimated size reaches it.
  auto it = std::upper_bound(exports_.begin(), exports_.end(), rva,
                             [](std::uint32_t value, const exceptlog::PeExport& e) { return value < e.Rva; });
  if (it == exports_.begin()) return {};
  --it;
  const exceptlog::PeSectionHeader* code = image_.SectionAt(it->Rva);
  if (code == nullptr) return {};
  const std::uint32_t size = EstimatedProcedureSize(image_.SectionData(*code), code->VirtualAddress, it->Rva);
  if (rva >= it->Rva + std::max<std::uint32_t>(size, 1)) return {};
  const auto parts = exceptlog::ResolveExportedName(it->Name);
  if (!parts) return {};
  return parts->UnitName + "\t" + parts->ClassName + "\t" + parts->ProcedureName;
}

std::string ModuleReport::Resolve(std::uint64_t address) const {
  std::string line = AddressText(address) + "\t";
  // The stored block and the exports describe the 4 GB above the base.
  const std::uint64_t base = image_.ImageBase() + exceptlog::kDebugCodeBase;
  if (index_ && address >= base && address - base <= 0xFFFFFFFFu) {
    if (const auto found = index_->LookUp(static_cast<std::uint32_t>(address - base), exceptlog::CodeOf(image_))) {
      return line + found->UnitName + "\t" + found->ClassName + "\t" + found->ProcedureName + "\t" +
             std::to_string(found->Line) + "\t" + std::to_string(found->ProcedureLine);
    }
  }
  if (address >= image_.ImageBase() && address - image_.ImageBase() <= 0xFFFFFFFFu) {
    const std::string place = ExportedPlace(static_cast<std::uint32_t>(address - image_.ImageBase()));
    if (!place.empty()) return line + place + "\t\t";
  }
  return line + "\t\t\t\t";
}

std::string ModuleReport::InfoText() const {
  if (!block_) return "no stored block\n";
  const exceptlog::StoredBlock& b = *block_;
  std::string out;
  out += "Module: " + std::string(exceptlog::PeFormatName(image_.Format())) + " " +
         exceptlog::PeMachineName(image_.Machine()) + ", preferred base " + AddressText(image_.ImageBase()) + "\n";
  out += "BlockVersion: " + std::to_string(b.BlockVersion) + "\n";
  out += "CompileDate: " + DateText(b.CompileDate) + "\n";
  out += std::string("Password: ") + (b.PasswordOk ? "ok" : "not right; protected names are shown as ?Base64") + "\n";
  if (!b.Problem.empty()) out += "Problem: " + b.Problem + "\n";
  for (const auto& symbol : exceptlog::ReadNumberedSymbols(
           image_.FindResource(exceptlog::kRawDataResource, "ELDATA").value_or(std::span<const std::uint8_t>{}))) {
    out += "Symbol " + std::to_string(symbol.number) + ": " +
           AddressText(image_.ImageBase() + exceptlog::kDebugCodeBase + symbol.code_offset) + ", " +
           std::to_string(symbol.size) + " bytes\n";
  }
  exceptlog::TRuzadaModuleOptions options(std::string(), false);
  if (exceptlog::LoadStoredOptions(b, options)) {
    out += "Options:\n";
    for (const OptionField& field : OptionFields()) {
      if (field.Kind != OptionKind::kStringList) {
        out += "  " + std::string(field.Name) + " = " + OptionText(options, field.Name) + "\n";
        continue;
      }
      const auto values = OptionList(options, field.Name);
      for (std::size_t i = 0; i < values.size(); ++i) {
        out += "  " + std::string(field.Name) + "[" + std::to_string(i) + "] = " + values[i] + "\n";
      }
    }
  } else {
    out += "Options: none\n";
  }
  if (!b.HasDebugData) return out + "Units: none\n";

  // Units by name, procedures by class and name, each with its line range.
  struct Lines {
    std::uint32_t First = 0xFFFFFFFF;
    std::uint32_t Last = 0;
  };
  std::map<std::string, std::map<std::string, Lines>> units;
  const exceptlog::DebugDataView view = exceptlog::ViewOf(b);
  const exceptlog::BlockCipher cipher(view.Key);
  try {
    exceptlog::UnitRecordReader reader(view);
    while (const auto unit = reader.Next()) {
      auto& procedures = units[exceptlog::UnitDisplayName(view, *unit, cipher)];
      exceptlog::DecodeUnitTable(view, *unit, cipher, [&](const exceptlog::LineRange& range) {
        if (range.Size == 0) return true;
        const std::string name =
            range.ClassName->empty() ? *range.ProcedureName : *range.ClassName + "." + *range.ProcedureName;
        Lines& lines = procedures[name];
        lines.First = std::min(lines.First, range.Line);
        lines.Last = std::max(lines.Last, range.Line);
        return true;
      });
    }
  } catch (const exceptlog::EDebugDataError& e) {
    out += "Debug data damaged: " + e.Message() + "\n";
  }
  out += "Units:\n";
  for (const auto& [unit, procedures] : units) {
    out += "  " + unit + "\n";
    for (const auto& [name, lines] : procedures) {
      out += "    " + (name.empty() ? std::string("(no procedure)") : name) + "  lines " + std::to_string(lines.First) +
             "-" + std::to_string(lines.Last) + "\n";
    }
  }
  return out;
}

std::string ModuleReport::InfoJson() const {
  if (!block_) return "{}\n";
  exceptlog::TRuzadaModuleOptions options(std::string(), false);
  const bool has_options = exceptlog::LoadStoredOptions(*block_, options);
  std::string out = "{\n";
  out += "  \"Module\": {\"Format\": \"" + std::string(exceptlog::PeFormatName(image_.Format())) +
         "\", \"Machine\": \"" + exceptlog::PeMachineName(image_.Machine()) + "\", \"ImageBase\": \"" +
         AddressText(image_.ImageBase()) + "\"},\n";
  out += "  \"BlockVersion\": " + std::to_string(block_->BlockVersion) + ",\n";
  out += "  \"CompileDate\": \"" + DateText(block_->CompileDate) + "\",\n";
  out += "  \"Options\": " + (has_options ? OptionsJson(options, 2) : std::string("null")) + "\n";
  return out + "}\n";
}

}  // namespace vellum::eldata
