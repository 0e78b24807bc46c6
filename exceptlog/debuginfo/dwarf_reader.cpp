#include "exceptlog/debuginfo/dwarf_reader.h"

#include <unordered_map>

#include "exceptlog/debuginfo/dwarf_format.h"
#include "exceptlog/debuginfo/dwarf_line_program.h"

namespace vellum::exceptlog {
namespace {

struct AbbrevAttribute {
  std::uint64_t Name = 0;
  std::uint64_t Form = 0;
  std::int64_t ImplicitConst = 0;
};

struct Abbrev {
  std::uint64_t Tag = 0;
  bool HasChildren = false;
  std::vector<AbbrevAttribute> Attributes;
};

using AbbrevTable = std::unordered_map<std::uint64_t, Abbrev>;

AbbrevTable ReadAbbrevTable(std::span<const std::uint8_t> section, std::uint64_t offset) {
  AbbrevTable table;
  DwarfCursor in(section, offset);
  for (std::uint64_t code; (code = in.Uleb()) != 0;) {
    Abbrev abbrev;
    abbrev.Tag = in.Uleb();
    abbrev.HasChildren = in.U8() != 0;
    for (;;) {
      AbbrevAttribute attribute;
      attribute.Name = in.Uleb();
      attribute.Form = in.Uleb();
      if (attribute.Name == 0 && attribute.Form == 0) break;
      if (attribute.Form == kFormImplicitConst) attribute.ImplicitConst = in.Sleb();
      abbrev.Attributes.push_back(attribute);
    }
    table[code] = std::move(abbrev);
  }
  return table;
}

struct Unit {
  std::uint64_t Offset = 0;
  std::uint16_t Version = 0;
  unsigned AddressSize = 4;
  std::uint64_t StrOffsetsBase = 0;
  std::uint64_t AddrBase = 0;
  std::uint64_t RnglistsBase = 0;
  std::uint64_t LowPc = 0;
};

// An attribute's raw value: a number (or offset), or bytes for blocks and
// inline strings.
struct Value {
  std::uint64_t Form = 0;
  std::uint64_t Number = 0;
  std::string_view Text;
  bool Present = false;
};

struct Die {
  std::uint64_t Tag = 0;
  std::uint64_t Parent = 0;  // section offset; 0 for a unit's root
  std::uint32_t UnitIndex = 0;
  std::string_view Name;
  std::string_view LinkageName;
  std::uint32_t DeclLine = 0;
  std::uint64_t InClassDeclaration = 0;
  std::uint64_t AbstractOrigin = 0;
};

class InfoReader {
 public:
  explicit InfoReader(const DwarfSections& sections) : s_(sections) {}

  DwarfInfo Read() {
    DwarfCursor in(s_.Info);
    while (in.Remaining() >= 4) ReadUnit(in);
    ResolveFunctions();
    return std::move(info_);
  }

 private:
  struct CodeDie {
    std::uint64_t Offset = 0;
    std::uint32_t Depth = 0;
    bool Inlined = false;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> Ranges;
  };

  Value ReadValue(DwarfCursor& in, std::uint64_t form, const AbbrevAttribute& attribute, const Unit& unit) {
    Value v;
    v.Form = form;
    v.Present = true;
    switch (form) {
      case kFormAddr: v.Number = in.Fixed(unit.AddressSize); break;
      case kFormBlock2: in.Skip(in.U16()); break;
      case kFormBlock4: in.Skip(in.U32()); break;
      case kFormData2:
      case kFormRef2: v.Number = in.U16(); break;
      case kFormData4:
      case kFormRef4:
      case kFormRefSup4: v.Number = in.U32(); break;
      case kFormData8:
      case kFormRef8:
      case kFormRefSig8:
      case kFormRefSup8: v.Number = in.Fixed(8); break;
      case kFormString: v.Text = in.CString(); break;
      case kFormBlock:
      case kFormExprloc: in.Skip(in.Uleb()); break;
      case kFormBlock1: in.Skip(in.U8()); break;
      case kFormData1:
      case kFormRef1:
      case kFormFlag:
      case kFormStrx1:
      case kFormAddrx1: v.Number = in.U8(); break;
      case kFormSdata: v.Number = static_cast<std::uint64_t>(in.Sleb()); break;
      case kFormStrp:
      case kFormLineStrp:
      case kFormSecOffset:
      case kFormStrpSup:
      case kFormGnuRefAlt:
      case kFormGnuStrpAlt: v.Number = in.U32(); break;
      case kFormRefAddr: v.Number = unit.Version <= 2 ? in.Fixed(unit.AddressSize) : in.U32(); break;
      case kFormUdata:
      case kFormRefUdata:
      case kFormStrx:
      case kFormAddrx:
      case kFormLoclistx:
      case kFormRnglistx:
      case kFormGnuAddrIndex:
      case kFormGnuStrIndex: v.Number = in.Uleb(); break;
      case kFormIndirect: {
        const std::uint64_t actual = in.Uleb();
        if (actual == kFormIndirect || actual == kFormImplicitConst) throw EDwarfError("indirect form loops");
        return ReadValue(in, actual, attribute, unit);
      }
      case kFormFlagPresent: v.Number = 1; break;
      case kFormImplicitConst: v.Number = static_cast<std::uint64_t>(attribute.ImplicitConst); break;
      case kFormData16: in.Skip(16); break;
      case kFormStrx2:
      case kFormAddrx2: v.Number = in.U16(); break;
      case kFormStrx3:
      case kFormAddrx3: v.Number = in.Fixed(3); break;
      case kFormStrx4:
      case kFormAddrx4: v.Number = in.U32(); break;
      default: throw EDwarfError("unknown DWARF form " + std::to_string(form));
    }
    return v;
  }

  std::string_view Text(const Value& v, const Unit& unit) const {
    switch (v.Form) {
      case kFormString: return v.Text;
      case kFormStrp: return StringAt(s_.Str, v.Number);
      case kFormLineStrp: return StringAt(s_.LineStr, v.Number);
      case kFormStrx:
      case kFormStrx1:
      case kFormStrx2:
      case kFormStrx3:
      case kFormStrx4:
      case kFormGnuStrIndex: {
        DwarfCursor offsets(s_.StrOffsets, unit.StrOffsetsBase);
        offsets.Skip(v.Number * 4);
        return StringAt(s_.Str, offsets.U32());
      }
      default: return {};  // strings of supplementary files are not at hand
    }
  }

  std::uint64_t Address(const Value& v, const Unit& unit) const {
    switch (v.Form) {
      case kFormAddrx:
      case kFormAddrx1:
      case kFormAddrx2:
      case kFormAddrx3:
      case kFormAddrx4:
      case kFormGnuAddrIndex: {
        DwarfCursor addresses(s_.Addr, unit.AddrBase);
        addresses.Skip(v.Number * unit.AddressSize);
        return addresses.Fixed(unit.AddressSize);
      }
      default: return v.Number;
    }
  }

  std::uint64_t Reference(const Value& v, const Unit& unit) const {
    switch (v.Form) {
      case kFormRef1:
      case kFormRef2:
      case kFormRef4:
      case kFormRef8:
      case kFormRefUdata: return unit.Offset + v.Number;
      case kFormRefAddr: return v.Number;
      default: return 0;
    }
  }

  std::vector<std::pair<std::uint64_t, std::uint64_t>> RangeList(const Value& v, const Unit& unit) const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    std::uint64_t base = unit.LowPc;
    if (unit.Version < 5) {
      DwarfCursor in(s_.Ranges, v.Number);
      const std::uint64_t largest = unit.AddressSize == 4 ? 0xFFFFFFFFull : ~0ull;
      for (;;) {
        const std::uint64_t begin = in.Fixed(unit.AddressSize);
        const std::uint64_t end = in.Fixed(unit.AddressSize);
        if (begin == 0 && end == 0) return ranges;
        if (begin == largest) {
          base = end;
          continue;
        }
        ranges.emplace_back(base + begin, base + end);
      }
    }
    std::uint64_t offset = v.Number;
    if (v.Form == kFormRnglistx) {
      DwarfCursor table(s_.RngLists, unit.RnglistsBase);
      table.Skip(v.Number * 4);
      offset = unit.RnglistsBase + table.U32();
    }
    DwarfCursor in(s_.RngLists, offset);
    const auto indexed = [&](std::uint64_t index) { return Address({kFormAddrx, index, {}, true}, unit); };
    for (;;) {
      switch (in.U8()) {
        case kRleEndOfList: return ranges;
        case kRleBaseAddressx: base = indexed(in.Uleb()); break;
        case kRleStartxEndx: {
          const std::uint64_t b = indexed(in.Uleb());
          ranges.emplace_back(b, indexed(in.Uleb()));
          break;
        }
        case kRleStartxLength: {
          const std::uint64_t b = indexed(in.Uleb());
          ranges.emplace_back(b, b + in.Uleb());
          break;
        }
        case kRleOffsetPair: {
          const std::uint64_t b = in.Uleb();
          ranges.emplace_back(base + b, base + in.Uleb());
          break;
        }
        case kRleBaseAddress: base = in.Fixed(unit.AddressSize); break;
        case kRleStartEnd: {
          const std::uint64_t b = in.Fixed(unit.AddressSize);
          ranges.emplace_back(b, in.Fixed(unit.AddressSize));
          break;
        }
        case kRleStartLength: {
          const std::uint64_t b = in.Fixed(unit.AddressSize);
          ranges.emplace_back(b, b + in.Uleb());
          break;
        }
        default: throw EDwarfError("unknown range list entry");
      }
    }
  }

  void ReadUnit(DwarfCursor& in) {
    Unit unit;
    unit.Offset = in.Position();
    const std::uint32_t length = in.U32();
    if (length >= 0xFFFFFFF0u) throw EDwarfError("64-bit DWARF is not supported");
    if (length > in.Remaining()) throw EDwarfError("compilation unit longer than .debug_info");
    const std::uint64_t end = in.Position() + length;
    unit.Version = in.U16();
    std::uint64_t abbrev_offset = 0;
    if (unit.Version >= 5) {
      const std::uint8_t type = in.U8();
      unit.AddressSize = in.U8();
      abbrev_offset = in.U32();
      if (type == kUtSkeleton || type == kUtSplitCompile) in.Skip(8);  // the unit id
      if (type == kUtType || type == kUtSplitType) in.Skip(8 + 4);     // signature and type offset
    } else if (unit.Version >= 2) {
      abbrev_offset = in.U32();
      unit.AddressSize = in.U8();
    } else {
      throw EDwarfError("unknown DWARF version");
    }
    if (unit.AddressSize != 4 && unit.AddressSize != 8) throw EDwarfError("unknown address size");
    auto cached = abbrevs_.find(abbrev_offset);
    if (cached == abbrevs_.end())
      cached = abbrevs_.emplace(abbrev_offset, ReadAbbrevTable(s_.Abbrev, abbrev_offset)).first;
    const AbbrevTable& abbrevs = cached->second;
    const auto unit_index = static_cast<std::uint32_t>(units_.size());
    units_.push_back(unit);

    // Parents by nesting level; the depth counts only function levels.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> parents;  // (offset, function depth)
    std::string comp_dir;
    std::uint64_t stmt_list = ~0ull;
    while (in.Position() < end) {
      const std::uint64_t offset = in.Position();
      const std::uint64_t code = in.Uleb();
      if (code == 0) {
        if (!parents.empty()) parents.pop_back();
        continue;
      }
      const auto found = abbrevs.find(code);
      if (found == abbrevs.end()) throw EDwarfError("DIE with an unknown abbreviation");
      const Abbrev& abbrev = found->second;
      Unit& u = units_[unit_index];
      Value name, linkage, low, high, ranges, in_class_declaration, origin, decl_line;
      for (const AbbrevAttribute& attribute : abbrev.Attributes) {
        const Value v = ReadValue(in, attribute.Form, attribute, u);
        switch (attribute.Name) {
          case kAtName: name = v; break;
          case kAtLinkageName:
          case kAtMipsLinkageName: linkage = v; break;
          case kAtLowPc: low = v; break;
          case kAtHighPc: high = v; break;
          case kAtRanges: ranges = v; break;
          case kAtInClassDeclaration: in_class_declaration = v; break;
          case kAtAbstractOrigin: origin = v; break;
          case kAtDeclLine: decl_line = v; break;
          case kAtStmtList:
            if (abbrev.Tag == kTagCompileUnit || abbrev.Tag == kTagPartialUnit) stmt_list = v.Number;
            break;
          case kAtCompDir:
            if (abbrev.Tag == kTagCompileUnit) comp_dir = std::string(Text(v, u));
            break;
          case kAtStrOffsetsBase: u.StrOffsetsBase = v.Number; break;
          case kAtAddrBase: u.AddrBase = v.Number; break;
          case kAtRnglistsBase: u.RnglistsBase = v.Number; break;
          default: break;
        }
      }
      const std::uint32_t parent_depth = parents.empty() ? 0 : parents.back().second;
      const bool is_function = abbrev.Tag == kTagSubprogram || abbrev.Tag == kTagInlined;
      const std::uint32_t depth = parent_depth + (is_function ? 1 : 0);

      Die die;
      die.Tag = abbrev.Tag;
      die.Parent = parents.empty() ? 0 : parents.back().first;
      die.UnitIndex = unit_index;
      if (name.Present) die.Name = Text(name, u);
      if (linkage.Present) die.LinkageName = Text(linkage, u);
      die.DeclLine = static_cast<std::uint32_t>(decl_line.Number);
      die.InClassDeclaration = in_class_declaration.Present ? Reference(in_class_declaration, u) : 0;
      die.AbstractOrigin = origin.Present ? Reference(origin, u) : 0;

      if (abbrev.Tag == kTagCompileUnit || abbrev.Tag == kTagPartialUnit || abbrev.Tag == kTagSkeleton) {
        if (low.Present) u.LowPc = Address(low, u);
      } else if (is_function) {
        CodeDie code_die{offset, depth, abbrev.Tag == kTagInlined, {}};
        if (ranges.Present) {
          code_die.Ranges = RangeList(ranges, u);
        } else if (low.Present && high.Present) {
          const std::uint64_t begin = Address(low, u);
          const bool is_offset = high.Form != kFormAddr && high.Form != kFormAddrx && high.Form != kFormAddrx1 &&
                                 high.Form != kFormAddrx2 && high.Form != kFormAddrx3 && high.Form != kFormAddrx4;
          code_die.Ranges.emplace_back(begin, is_offset ? begin + high.Number : Address(high, u));
        }
        if (!code_die.Ranges.empty()) code_dies_.push_back(std::move(code_die));
      }
      dies_.emplace(offset, die);
      if (abbrev.HasChildren) parents.emplace_back(offset, depth);
    }
    in.Seek(end);
    if (stmt_list != ~0ull) ReadLines(stmt_list, units_[unit_index].AddressSize, comp_dir);
  }

  void ReadLines(std::uint64_t offset, unsigned address_size, const std::string& comp_dir) {
    if (!line_programs_read_.emplace(offset, true).second) return;
    LineProgram program = ReadLineProgram(s_, offset, address_size, comp_dir);
    std::vector<std::uint32_t> file_index;
    for (const std::string& file : program.Files) {
      const auto [it, added] = file_indexes_.emplace(file, static_cast<std::uint32_t>(info_.Files.size()));
      if (added) info_.Files.push_back(file);
      file_index.push_back(it->second);
    }
    for (auto& sequence : program.Sequences) {
      for (DwarfLineRow& row : sequence) {
        // A file index outside the table has no name; the row describes nothing.
        row.File = row.File < file_index.size() ? file_index[row.File] : kNoDwarfFile;
      }
      info_.Sequences.push_back(std::move(sequence));
    }
  }

  const Die* Find(std::uint64_t offset) const {
    const auto it = dies_.find(offset);
    return it == dies_.end() ? nullptr : &it->second;
  }

  // Follows abstract origins and in-class declarations (at most a few steps in real
  // data; bounded against loops) to the declaration that names the function.
  std::uint32_t FunctionOf(std::uint64_t concrete_offset, const Die& concrete) {
    const Die* die = &concrete;
    std::uint64_t key = 0;
    DwarfFunction function;
    for (int step = 0; step < 16; ++step) {
      if (function.Name.empty() && !die->Name.empty()) function.Name = std::string(die->Name);
      if (function.DeclLine == 0) function.DeclLine = die->DeclLine;
      const std::uint64_t next = die->AbstractOrigin != 0 ? die->AbstractOrigin : die->InClassDeclaration;
      const Die* following = next != 0 ? Find(next) : nullptr;
      if (following == nullptr) break;
      if (die->AbstractOrigin != 0 && key == 0) key = next;
      die = following;
    }
    if (key == 0) key = concrete_offset;
    const auto known = functions_.find(key);
    if (known != functions_.end()) return known->second;

    // The scope is that of the declaration: namespaces and classes above it.
    std::vector<std::string> scopes;
    std::string class_name;
    bool in_class = true;
    const Die* scope = Find(die->Parent);
    for (int step = 0; scope != nullptr && step < 64; ++step, scope = Find(scope->Parent)) {
      const bool is_class = scope->Tag == kTagClass || scope->Tag == kTagStructure || scope->Tag == kTagUnion;
      if (is_class || scope->Tag == kTagNamespace) {
        const std::string name =
            scope->Name.empty() ? (is_class ? "<anonymous>" : "(anonymous namespace)") : std::string(scope->Name);
        scopes.insert(scopes.begin(), name);
        if (is_class && in_class) class_name = class_name.empty() ? name : name + "::" + class_name;
        if (!is_class) in_class = false;
      } else if (scope->Tag == kTagSubprogram) {
        in_class = false;  // a class local to a function
      }
    }
    for (const std::string& name : scopes) function.QualifiedName += name + "::";
    function.QualifiedName += function.Name;
    function.ClassName = std::move(class_name);
    const auto index = static_cast<std::uint32_t>(info_.Functions.size());
    info_.Functions.push_back(std::move(function));
    functions_.emplace(key, index);
    return index;
  }

  void ResolveFunctions() {
    for (const CodeDie& code : code_dies_) {
      const Die* die = Find(code.Offset);
      if (die == nullptr) continue;
      const std::uint32_t function = FunctionOf(code.Offset, *die);
      bool entry = true;
      for (const auto& [low, high] : code.Ranges) {
        if (high <= low) continue;
        info_.CodeRanges.push_back({low, high, function, code.Depth, code.Inlined, entry});
        entry = false;
      }
    }
  }

  const DwarfSections& s_;
  DwarfInfo info_;
  std::vector<Unit> units_;
  std::unordered_map<std::uint64_t, AbbrevTable> abbrevs_;
  std::unordered_map<std::uint64_t, Die> dies_;
  std::vector<CodeDie> code_dies_;
  std::unordered_map<std::uint64_t, bool> line_programs_read_;
  std::unordered_map<std::string, std::uint32_t> file_indexes_;
  std::unordered_map<std::uint64_t, std::uint32_t> functions_;
};

}  // namespace

DwarfInfo ReadDwarf(const DwarfSections& sections) {
  return InfoReader(sections).Read();
}

}  // namespace vellum::exceptlog
