// DWARF's numbers, named once for the readers of .debug_info and
// .debug_line (DWARF 5, section 7, gives each its DW_ name): tags,
// attributes, forms, unit types, range-list entries and the line-number
// program's opcodes and content types. And the cursor both readers walk the
// sections with: a read past a section's end raises EDwarfError.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "exceptlog/common/binary/byte_cursor.h"
#include "exceptlog/debuginfo/dwarf_reader.h"

namespace vellum::exceptlog {

using DwarfCursor = ByteCursor<EDwarfError>;

// The string at `offset` of a string section.
inline std::string_view StringAt(std::span<const std::uint8_t> section, std::uint64_t offset) {
  DwarfCursor in(section, offset);
  return in.CString();
}

// DW_TAG_*
enum DwarfTag : std::uint64_t {
  kTagClass = 0x02,
  kTagLexicalBlock = 0x0b,
  kTagCompileUnit = 0x11,
  kTagStructure = 0x13,
  kTagUnion = 0x17,
  kTagInlined = 0x1d,
  kTagSubprogram = 0x2e,
  kTagNamespace = 0x39,
  kTagPartialUnit = 0x3c,
  kTagSkeleton = 0x4a,
};

// DW_AT_*
enum DwarfAttribute : std::uint64_t {
  kAtName = 0x03,
  kAtStmtList = 0x10,
  kAtLowPc = 0x11,
  kAtHighPc = 0x12,
  kAtCompDir = 0x1b,
  kAtAbstractOrigin = 0x31,
  kAtDeclLine = 0x3b,
  kAtInClassDeclaration = 0x47,  // the out-of-line definition names its in-class declaration
  kAtRanges = 0x55,
  kAtLinkageName = 0x6e,
  kAtStrOffsetsBase = 0x72,
  kAtAddrBase = 0x73,
  kAtRnglistsBase = 0x74,
  kAtMipsLinkageName = 0x2007,
};

// DW_FORM_*
enum DwarfForm : std::uint64_t {
  kFormAddr = 0x01,
  kFormBlock2 = 0x03,
  kFormBlock4 = 0x04,
  kFormData2 = 0x05,
  kFormData4 = 0x06,
  kFormData8 = 0x07,
  kFormString = 0x08,
  kFormBlock = 0x09,
  kFormBlock1 = 0x0a,
  kFormData1 = 0x0b,
  kFormFlag = 0x0c,
  kFormSdata = 0x0d,
  kFormStrp = 0x0e,
  kFormUdata = 0x0f,
  kFormRefAddr = 0x10,
  kFormRef1 = 0x11,
  kFormRef2 = 0x12,
  kFormRef4 = 0x13,
  kFormRef8 = 0x14,
  kFormRefUdata = 0x15,
  kFormIndirect = 0x16,
  kFormSecOffset = 0x17,
  kFormExprloc = 0x18,
  kFormFlagPresent = 0x19,
  kFormStrx = 0x1a,
  kFormAddrx = 0x1b,
  kFormRefSup4 = 0x1c,
  kFormStrpSup = 0x1d,
  kFormData16 = 0x1e,
  kFormLineStrp = 0x1f,
  kFormRefSig8 = 0x20,
  kFormImplicitConst = 0x21,
  kFormLoclistx = 0x22,
  kFormRnglistx = 0x23,
  kFormRefSup8 = 0x24,
  kFormStrx1 = 0x25,
  kFormStrx2 = 0x26,
  kFormStrx3 = 0x27,
  kFormStrx4 = 0x28,
  kFormAddrx1 = 0x29,
  kFormAddrx2 = 0x2a,
  kFormAddrx3 = 0x2b,
  kFormAddrx4 = 0x2c,
  kFormGnuAddrIndex = 0x1f01,
  kFormGnuStrIndex = 0x1f02,
  kFormGnuRefAlt = 0x1f20,
  kFormGnuStrpAlt = 0x1f21,
};

// DW_UT_*: the kinds of DWARF 5 unit headers.
enum DwarfUnitType : std::uint8_t {
  kUtCompile = 0x01,
  kUtType = 0x02,
  kUtPartial = 0x03,
  kUtSkeleton = 0x04,
  kUtSplitCompile = 0x05,
  kUtSplitType = 0x06,
};

// DW_RLE_*: the entries of a DWARF 5 range list.
enum DwarfRangeListEntry : std::uint8_t {
  kRleEndOfList = 0x00,
  kRleBaseAddressx = 0x01,
  kRleStartxEndx = 0x02,
  kRleStartxLength = 0x03,
  kRleOffsetPair = 0x04,
  kRleBaseAddress = 0x05,
  kRleStartEnd = 0x06,
  kRleStartLength = 0x07,
};

// DW_LNS_*: the standard opcodes of the line-number program; 0 introduces
// an extended opcode.
enum DwarfLineOpcode : std::uint8_t {
  kLnsExtended = 0x00,
  kLnsCopy = 0x01,
  kLnsAdvancePc = 0x02,
  kLnsAdvanceLine = 0x03,
  kLnsSetFile = 0x04,
  kLnsSetColumn = 0x05,
  kLnsNegateStmt = 0x06,
  kLnsSetBasicBlock = 0x07,
  kLnsConstAddPc = 0x08,
  kLnsFixedAdvancePc = 0x09,
  kLnsSetPrologueEnd = 0x0a,
  kLnsSetEpilogueBegin = 0x0b,
};

// DW_LNE_*
enum DwarfExtendedLineOpcode : std::uint8_t {
  kLneEndSequence = 0x01,
  kLneSetAddress = 0x02,
};

// DW_LNCT_*: what a field of a DWARF 5 directory or file entry holds.
enum DwarfLineContent : std::uint64_t {
  kLnctPath = 0x1,
  kLnctDirectoryIndex = 0x2,
};

}  // namespace vellum::exceptlog
