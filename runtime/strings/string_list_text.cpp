// The text forms of a string list: CR LF lines, comma text, "name=value"
// lines and their stream and file storage.
#include <utility>

#include "runtime/stream.h"
#include "runtime/strings/string_list.h"
#include "runtime/strings/string_utils.h"

namespace vellum {

namespace {

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

// Runs `fill` inside an update bracket so that a whole replacement fires one
// change, and closes the bracket even when `fill` raises.
template <typename Fill>
void Rebuild(StringList& list, Fill fill) {
  list.BeginUpdate();
  try {
    list.Clear();
    fill();
  } catch (...) {
    list.EndUpdate();
    throw;
  }
  list.EndUpdate();
}

}  // namespace

std::string StringList::Text() const {
  std::size_t size = 0;
  for (const Item& item : items_) size += item.text.size() + 2;
  std::string text;
  text.reserve(size);
  for (const Item& item : items_) {
    text += item.text;
    text += "\r\n";
  }
  return text;
}

void StringList::SetText(std::string_view text) {
  Rebuild(*this, [&] {
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = start;
      while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
      Add(std::string(text.substr(start, end - start)));
      if (end < text.size() && text[end] == '\r') ++end;
      if (end < text.size() && text[end] == '\n') ++end;
      start = end;
    }
  });
}

std::string StringList::CommaText() const {
  std::string text;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (i > 0) text += ',';
    const std::string& item = items_[i].text;
    bool quote = item.empty();
    for (const char c : item) quote = quote || IsBlank(c) || c == ',' || c == '"';
    text += quote ? AnsiQuotedStr(item, '"') : item;
  }
  return text;
}

void StringList::SetCommaText(std::string_view text) {
  Rebuild(*this, [&] {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    while (i < text.size()) {
      std::string item;
      if (text[i] == '"') {
        item = ExtractQuotedStr(text, i, '"');
      } else {
        const std::size_t start = i;
        while (i < text.size() && !IsBlank(text[i]) && text[i] != ',') ++i;
        item.assign(text.substr(start, i - start));
      }
      Add(item);
      while (i < text.size() && IsBlank(text[i])) ++i;
      if (i < text.size() && text[i] == ',') {
        // A separator followed by nothing still ends in one empty item.
        do {
          ++i;
        } while (i < text.size() && IsBlank(text[i]));
        if (i >= text.size()) Add(std::string());
      }
    }
  });
}

std::string StringList::Names(int index) const {
  const std::string& line = Strings(index);
  const std::size_t equals = line.find('=');
  return equals == std::string::npos ? std::string() : line.substr(0, equals);
}

std::string StringList::ValueFromIndex(int index) const {
  const std::string& line = Strings(index);
  const std::size_t equals = line.find('=');
  return equals == std::string::npos ? std::string() : line.substr(equals + 1);
}

int StringList::IndexOfName(std::string_view name) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const std::string& line = items_[i].text;
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos && SameText(std::string_view(line).substr(0, equals), name)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::string StringList::Values(std::string_view name) const {
  const int index = IndexOfName(name);
  return index < 0 ? std::string() : ValueFromIndex(index);
}

void StringList::SetValue(std::string_view name, std::string_view value) {
  const int index = IndexOfName(name);
  std::string line = std::string(name) + "=" + std::string(value);
  if (value.empty()) {
    if (index >= 0) Delete(index);
  } else if (index < 0) {
    Add(line);
  } else if (sorted_) {
    // The new value may sort elsewhere: re-add instead of overwriting.
    void* object = items_[static_cast<std::size_t>(index)].object;
    BeginUpdate();
    try {
      Delete(index);
      AddObject(line, object);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
  } else {
    SetString(index, line);
  }
}

void StringList::LoadFromStream(Stream& stream) {
  const std::int64_t left = stream.Size() - stream.Position();
  std::string text(left > 0 ? static_cast<std::size_t>(left) : 0, '\0');
  if (!text.empty()) stream.ReadBuffer(text.data(), text.size());
  SetText(text);
}

void StringList::SaveToStream(Stream& stream) const {
  stream.WriteString(Text());
}

void StringList::LoadFromFile(const std::string& file_name) {
  FileStream file(file_name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void StringList::SaveToFile(const std::string& file_name) const {
  FileStream file(file_name, fmCreate);
  SaveToStream(file);
}

}  // namespace vellum
