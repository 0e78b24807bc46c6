// The exception dialog's decisions that need no window: what the option
// area holds, which page opens first, the saved layout read back into the
// screen and what is written of it, and the texts the Modules page shows.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vellum::exceptlog {

// Pixels below the buttons for the check boxes and the support link.
int OptionAreaHeight(bool send_possible, bool screenshot_possible, bool copy_offered, bool support_link);

// Pages are numbered 0 General, 1 Call Stack, 2 Modules, 3 CPU, 4 Other; a
// tab index counts only the tabs present.
// The page the dialog opens on; one that is not present (its section is
// off, or there is no custom data) gives General.
struct PresentPages {
  bool modules = true, cpu = true, custom_data = false;
  bool Has(int page) const;
};
int FirstPageNumber(std::uint8_t dialog_first_tab, const PresentPages& pages);
int TabIndexOfPage(int page, const PresentPages& pages);
// -1 for an index past the last tab.
int PageOfTabIndex(int tab, const PresentPages& pages);

inline constexpr const char* kLayoutFile = "DeveruVuz.ini";
inline constexpr const char* kLayoutSection = "Coordinates";

struct SavedLayout {
  int width = 745;
  int height = 468;  // without the option area
  int left = 0;
  int top = 0;
  int state = 1;  // 1 normal, 3 maximised, 6 minimised
};
struct ScreenSize {
  int width = 0, height = 0;
};
// `read` answers a key's stored text, or nothing. Unreadable numbers take
// the default; the result lies inside the screen.
SavedLayout ReadLayout(const std::function<std::optional<std::string>(const std::string& key)>& read, ScreenSize screen,
                       int option_area_height);
// The keys and texts to write: nothing before the detailed mode had a size;
// the bounds only in the normal state.
std::vector<std::pair<std::string, std::string>> LayoutToSave(const std::optional<SavedLayout>& layout);

// The key a list page stores a column's width under ("ColMod5" is the Path
// column, "ColMod6" the Modified one) and its default width.
std::string ColumnKey(int page, int column);
int DefaultColumnWidth(int page, int column);
int ColumnCount(int page);
// A stored width, or the default when unreadable or not positive.
int ColumnWidth(const std::optional<std::string>& stored, int page, int column);

// "5.0.4.13" shows as "5.0.x"; a version with fewer than two dots is kept.
std::string ShortVersion(const std::string& version);
// Kilobytes to the nearest one: "13 Kb".
std::string KilobyteText(std::uint32_t bytes);

// The Line cell of a call stack row ("123[4]" or "123") read back.
struct SourceLine {
  std::int32_t line = 0;
  std::int32_t offset = -1;  // none shown
};
std::optional<SourceLine> ParseLineCell(const std::string& cell);

// One text line's width in pixels; the message size rule of the compact mode.
struct MessageSize {
  int width = 0;
  int height = 0;
};
MessageSize MeasureMessage(const std::vector<std::string>& lines,
                           const std::function<int(const std::string&)>& width_of, int line_height, int margin);

// Splits at CR LF, CR or LF.
std::vector<std::string> TextLines(const std::string& text);

}  // namespace vellum::exceptlog
