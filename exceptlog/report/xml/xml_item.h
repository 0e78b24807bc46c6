// A minimal element tree for the log's XML export: elements with attributes,
// optional text and children, written as indented text with CR LF line ends.
// Text is 8-bit; every byte that is markup, a line break or tab, or above 126
// is written as a three-digit numeric reference, so the output is plain ASCII
// whatever the report holds.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::exceptlog {

class TXMLItem;

// The ordered children of an element; they are freed from the last to the
// first.
class TXMLItems {
 public:
  TXMLItems() = default;
  TXMLItems(const TXMLItems&) = delete;
  TXMLItems& operator=(const TXMLItems&) = delete;
  ~TXMLItems();

  // Appends an element without setting its parent (AddChild sets it).
  TXMLItem& Add(const std::string& name);
  TXMLItem& Item(int index) const;
  int Count() const { return static_cast<int>(items_.size()); }

 private:
  friend class TXMLItem;
  std::vector<std::unique_ptr<TXMLItem>> items_;
};

class TXMLItem {
 public:
  explicit TXMLItem(std::string name);
  TXMLItem(const TXMLItem&) = delete;
  TXMLItem& operator=(const TXMLItem&) = delete;
  ~TXMLItem();

  TXMLItem& AddChild(const std::string& name);
  // Names are taken as given; the value is encoded.
  void AddAttribute(const std::string& name, std::string_view value);

  const std::string& Name() const { return name_; }
  // Character content, written between the tags as it is (not encoded).
  const std::string& Text() const { return text_; }
  void SetText(std::string text) { text_ = std::move(text); }
  const std::string& Attributes() const { return attributes_; }
  const TXMLItems& Children() const { return children_; }
  TXMLItem* Parent() const { return parent_; }

  // This element and its subtree, the element at no indent.
  std::string AsXml() const;

 private:
  friend class TXMLItems;
  void AppendXml(std::string& out, const std::string& indent) const;

  std::string name_;
  std::string text_;
  std::string attributes_;
  TXMLItems children_;
  TXMLItem* parent_ = nullptr;
};

// Markup characters, tab, CR, LF and bytes above 126 as "&#NNN;"; the other
// control characters as "?".
std::string EncodeText(std::string_view text);

}  // namespace vellum::exceptlog
