#include "exceptlog/debuginfo/stamp.h"

#include "exceptlog/capture/debugdata/stored_block_writer.h"
#include "exceptlog/capture/debugdata/symbol_table.h"
#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/debuginfo/line_source_builder.h"

namespace vellum::exceptlog {
namespace {

std::span<const std::uint8_t> Section(const PeFile& module, const char* name) {
  const PeSectionHeader* section = module.FindSection(name);
  return section != nullptr ? module.SectionData(*section) : std::span<const std::uint8_t>{};
}

}  // namespace

CodeBytesReader CodeOf(const PeFile& module) {
  return [&module](std::uint32_t code_offset, std::span<std::uint8_t> out) {
    const std::uint64_t rva = std::uint64_t{code_offset} + kDebugCodeBase;
    return rva <= 0xFFFFFFFFu && module.ReadRva(static_cast<std::uint32_t>(rva), out);
  };
}

CodeBounds CodeBoundsOf(const PeFile& module) {
  const PeSectionHeader* text = module.FindSection(".text");
  if (text == nullptr) throw EPeFormatError("the module has no .text section");
  if (text->VirtualAddress < kDebugCodeBase) throw EPeFormatError("the .text section lies inside the headers");
  const std::uint64_t low = module.ImageBase() + text->VirtualAddress;
  return CodeBounds{module.ImageBase(), low, low + text->VirtualSize};
}

StampResult BuildStoredBlock(const PeFile& module, const StampSettings& settings) {
  const CodeBounds bounds = CodeBoundsOf(module);
  const DwarfSections sections{
      Section(module, ".debug_info"),     Section(module, ".debug_abbrev"),   Section(module, ".debug_line"),
      Section(module, ".debug_str"),      Section(module, ".debug_line_str"), Section(module, ".debug_ranges"),
      Section(module, ".debug_rnglists"), Section(module, ".debug_addr"),     Section(module, ".debug_str_offsets")};
  if (sections.Info.empty() || sections.Line.empty()) throw EDwarfError("the module carries no DWARF line information");
  const DwarfInfo dwarf = ReadDwarf(sections);

  StampResult result;
  const LineTableSource source = BuildLineTableSource(dwarf, bounds);
  result.Units = source.UnitNames.size();
  result.Procedures = source.Procedures.size();
  result.Ranges = source.Ranges.size();
  const BlockCipher cipher(settings.Password);

  StoredBlockContents contents;
  contents.BlockVersion = kOwnBlockVersion;
  contents.CompileDate = settings.CompileDate;
  contents.Password = settings.Password;
  contents.DebugData = WriteDebugData(source, contents.BlockVersion, cipher, CodeOf(module), &result.Statistics);
  result.DebugDataSize = contents.DebugData.size();

  // A program that never uses the application object links none of its
  // code (the 64-bit build's inactive capture does not pull it in either);
  // its table leaves the procedure out, and a hook finds nothing to patch.
  std::vector<exceptlog::NumberedSymbol> symbols;
  for (std::uint8_t number = 0; number < std::size(kNumberedProcedures); ++number) {
    if (const auto symbol = FindNumberedFunction(dwarf, bounds, kNumberedProcedures[number], number)) {
      symbols.push_back(*symbol);
    } else {
      result.MissingProcedures.emplace_back(kNumberedProcedures[number]);
    }
  }
  contents.SymbolTable = exceptlog::WriteNumberedSymbols(symbols);

  TRuzadaModuleOptions options(std::string(), false);
  if (settings.SetOptions) settings.SetOptions(options);
  MemoryStream saved;
  options.SaveToStream(saved);
  contents.OptionsStream = saved.Bytes();

  result.Block = WriteStoredBlock(contents);
  return result;
}

std::string CompareCode(const PeFile& first, const PeFile& second) {
  if (first.Format() != second.Format() || first.Machine() != second.Machine()) return "the format differs";
  if (first.ImageBase() != second.ImageBase()) return "the preferred base differs";
  const PeSectionHeader* resources = first.FindSection(".rsrc");
  const std::uint32_t limit = resources != nullptr ? resources->VirtualAddress : 0xFFFFFFFFu;
  std::size_t compared = 0;
  for (const PeSectionHeader& section : first.Sections()) {
    if (section.VirtualAddress >= limit) continue;
    const PeSectionHeader* other = second.FindSection(section.Name);
    if (other == nullptr) return "section " + section.Name + " is missing";
    if (other->VirtualAddress != section.VirtualAddress || other->VirtualSize != section.VirtualSize) {
      return "section " + section.Name + " moved or changed size";
    }
    std::vector<std::uint8_t> a(first.SectionData(section).begin(), first.SectionData(section).end());
    std::vector<std::uint8_t> b(second.SectionData(*other).begin(), second.SectionData(*other).end());
    // The export directory carries the time of the link, which is all that
    // may differ between the two.
    const PeDataDirectory exports = first.DataDirectory(kExportDirectory);
    if (exports.Rva >= section.VirtualAddress && exports.Size >= 8 &&
        exports.Rva - section.VirtualAddress + 8 <= std::min(a.size(), b.size()) &&
        second.DataDirectory(kExportDirectory).Rva == exports.Rva) {
      const std::size_t stamp = exports.Rva - section.VirtualAddress + 4;
      std::fill_n(a.begin() + static_cast<std::ptrdiff_t>(stamp), 4, 0);
      std::fill_n(b.begin() + static_cast<std::ptrdiff_t>(stamp), 4, 0);
    }
    if (a != b) return "section " + section.Name + " has other bytes";
    ++compared;
  }
  if (compared == 0 || first.FindSection(".text") == nullptr) return "no code section to compare";
  return {};
}

}  // namespace vellum::exceptlog
