// The General and CPU pages show the report's text as rich text: the text
// keeps its columns in a fixed-pitch face, and colour tells titles, labels
// and values apart.
#pragma once

#include <cstddef>
#include <string>

namespace vellum::exceptlog {

struct RichTextFont {
  int character_set = 0;  // of the user's default ANSI code page
  std::string face;       // the report face
  int points = 8;
};

// The general part of a report as an RTF document.
std::string GeneralRichText(const std::string& general, const RichTextFont& font);
// The processor section as an RTF document, in the 32-bit or the 64-bit
// layout (registers from EAX or from RAX); `dump_tab_twips` is where the
// memory dump column starts: the width of CpuDumpColumn(cpu) dashes in the
// report face.
std::string CpuRichText(const std::string& cpu, const RichTextFont& font, int dump_tab_twips);
// The character column where the section's memory dump starts: 21 in a
// 32-bit process's section, 37 in a 64-bit one's (16-digit stack lines).
std::size_t CpuDumpColumn(const std::string& cpu);

}  // namespace vellum::exceptlog
