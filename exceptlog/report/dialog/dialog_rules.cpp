#include "exceptlog/report/dialog/dialog_rules.h"

#include <algorithm>
#include <cmath>

#include "runtime/strings/format.h"

namespace vellum::exceptlog {

int OptionAreaHeight(bool send_possible, bool screenshot_possible, bool copy_offered, bool support_link) {
  if (!send_possible && !screenshot_possible && !copy_offered && !support_link) return 0;
  // Two rows: the screenshot box sits under the send box, the link under
  // the copy box.
  if ((send_possible && screenshot_possible) || (copy_offered && support_link)) return 34;
  return 20;
}

bool PresentPages::Has(int page) const {
  switch (page) {
    case 0:
    case 1: return true;
    case 2: return modules;
    case 3: return cpu;
    case 4: return custom_data;
    default: return false;
  }
}

int FirstPageNumber(std::uint8_t dialog_first_tab, const PresentPages& pages) {
  const int page = dialog_first_tab & 0x7F;
  return pages.Has(page) ? page : 0;
}

int TabIndexOfPage(int page, const PresentPages& pages) {
  int index = 0;
  for (int p = 0; p < page; ++p) index += pages.Has(p) ? 1 : 0;
  return index;
}

int PageOfTabIndex(int tab, const PresentPages& pages) {
  for (int page = 0, index = 0; page <= 4; ++page) {
    if (!pages.Has(page)) continue;
    if (index++ == tab) return page;
  }
  return -1;
}

namespace {

std::optional<int> Number(const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  try {
    std::size_t used = 0;
    const long value = std::stol(*text, &used);
    if (used != text->size() || value < -1000000 || value > 1000000) return std::nullopt;
    return static_cast<int>(value);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace

SavedLayout ReadLayout(const std::function<std::optional<std::string>(const std::string& key)>& read, ScreenSize screen,
                       int option_area_height) {
  SavedLayout layout;
  layout.width = Number(read("Width")).value_or(745);
  layout.height = Number(read("Height")).value_or(468);
  // A window larger than the screen could not be pulled back into it.
  if (layout.width <= 0 || layout.width > screen.width) layout.width = std::min(745, screen.width);
  if (layout.height <= 0 || layout.height + option_area_height > screen.height) {
    layout.height = std::max(0, std::min(468, screen.height - option_area_height));
  }
  layout.left = Number(read("Left")).value_or((screen.width - layout.width) / 2);
  layout.top = Number(read("Top")).value_or((screen.height - layout.height - option_area_height) / 2);
  const int state = Number(read("WindowsState")).value_or(1);
  layout.state = state == 3 || state == 6 ? state : 1;
  if (layout.top + layout.height > screen.height) layout.top = screen.height - layout.height - option_area_height;
  if (layout.left + layout.width > screen.width) layout.left = screen.width - layout.width;
  layout.left = std::max(0, layout.left);
  layout.top = std::max(0, layout.top);
  return layout;
}

std::vector<std::pair<std::string, std::string>> LayoutToSave(const std::optional<SavedLayout>& layout) {
  if (!layout) return {};
  std::vector<std::pair<std::string, std::string>> keys;
  if (layout->state == 1) {
    keys = {{"Width", std::to_string(layout->width)},
            {"Height", std::to_string(layout->height)},
            {"Left", std::to_string(layout->left)},
            {"Top", std::to_string(layout->top)}};
  }
  keys.emplace_back("WindowsState", std::to_string(layout->state));
  return keys;
}

namespace {

struct ColumnDefault {
  const char* key;
  int width;
};
constexpr ColumnDefault kCallStackColumns[] = {{"Col0", 89},  {"Col1", 92},  {"Col2", 126},
                                               {"Col3", 126}, {"Col4", 200}, {"Col5", 61}};
// The Modified and Path columns were stored crossed from the start; files
// written since keep them so.
constexpr ColumnDefault kModuleColumns[] = {{"ColMod0", 80}, {"ColMod1", 96}, {"ColMod2", 175}, {"ColMod3", 50},
                                            {"ColMod4", 54}, {"ColMod6", 80}, {"ColMod5", 712}};

const ColumnDefault* Column(int page, int column) {
  if (column < 0) return nullptr;
  if (page == 1 && column < 6) return &kCallStackColumns[column];
  if (page == 2 && column < 7) return &kModuleColumns[column];
  return nullptr;
}

}  // namespace

int ColumnCount(int page) {
  return page == 1 ? 6 : page == 2 ? 7 : 0;
}

std::string ColumnKey(int page, int column) {
  const ColumnDefault* found = Column(page, column);
  return found != nullptr ? found->key : std::string();
}

int DefaultColumnWidth(int page, int column) {
  const ColumnDefault* found = Column(page, column);
  return found != nullptr ? found->width : 0;
}

int ColumnWidth(const std::optional<std::string>& stored, int page, int column) {
  const std::optional<int> width = Number(stored);
  return width && *width > 0 ? *width : DefaultColumnWidth(page, column);
}

std::string ShortVersion(const std::string& version) {
  const std::size_t first = version.find('.');
  if (first == std::string::npos) return version;
  const std::size_t second = version.find('.', first + 1);
  if (second == std::string::npos) return version;
  return version.substr(0, second + 1) + "x";
}

std::string KilobyteText(std::uint32_t bytes) {
  return std::to_string((bytes + 512ULL) / 1024) + " Kb";
}

std::optional<SourceLine> ParseLineCell(const std::string& cell) {
  std::size_t i = 0;
  while (i < cell.size() && cell[i] == ' ') ++i;
  const std::size_t digits = i;
  std::int64_t line = 0;
  while (i < cell.size() && cell[i] >= '0' && cell[i] <= '9' && line < 0x7FFFFFFF) line = line * 10 + (cell[i++] - '0');
  if (i == digits || line > 0x7FFFFFFF) return std::nullopt;
  SourceLine source{static_cast<std::int32_t>(line), -1};
  const std::size_t bracket = cell.find('[', i);
  if (bracket != std::string::npos) {
    std::int64_t offset = 0;
    std::size_t j = bracket + 1;
    while (j < cell.size() && cell[j] >= '0' && cell[j] <= '9' && offset <= 0x7FFFFFFF) {
      offset = offset * 10 + (cell[j++] - '0');
    }
    source.offset = offset > 0x7FFFFFFF ? -1 : static_cast<std::int32_t>(offset);
  }
  return source;
}

MessageSize MeasureMessage(const std::vector<std::string>& lines,
                           const std::function<int(const std::string&)>& width_of, int line_height, int margin) {
  const int limit = 640 - margin;
  MessageSize size;
  for (const std::string& line : lines) {
    const int width = width_of(line.empty() ? std::string(" ") : line) + 16;
    if (width > limit && limit > 0) {
      // A line wider than the limit wraps: the lines it takes beyond its own.
      size.width = limit;
      size.height += ((width - limit) / limit + 1) * line_height;
    } else if (width > size.width) {
      size.width = width;
    }
    size.height += line_height;
  }
  return size;
}

std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(line);
      line.clear();
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += text[i];
    }
  }
  lines.push_back(line);
  return lines;
}

}  // namespace vellum::exceptlog
