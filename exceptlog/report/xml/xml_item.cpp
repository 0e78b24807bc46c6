#include "exceptlog/report/xml/xml_item.h"

#include <cstdio>

#include "runtime/exception.h"

namespace vellum::exceptlog {

namespace {

// XML 1.0 admits no other control character, not even as a reference; a
// document that carried one would be refused whole by every reader.
bool IsForbiddenInXml(unsigned char code) {
  return code < 32 && code != '\t' && code != '\n' && code != '\r';
}

bool NeedsReference(unsigned char code) {
  return code < 32 || code == '"' || code == '&' || code == '\'' || code == '<' || code == '>' || code > 126;
}

}  // namespace

std::string EncodeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (IsForbiddenInXml(code)) {
      out += '?';
      continue;
    }
    if (!NeedsReference(code)) {
      out += c;
      continue;
    }
    char reference[8];
    std::snprintf(reference, sizeof reference, "&#%03u;", static_cast<unsigned>(code));
    out += reference;
  }
  return out;
}

TXMLItems::~TXMLItems() {
  while (!items_.empty()) items_.pop_back();
}

TXMLItem& TXMLItems::Add(const std::string& name) {
  items_.push_back(std::make_unique<TXMLItem>(name));
  return *items_.back();
}

TXMLItem& TXMLItems::Item(int index) const {
  if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return *items_[static_cast<std::size_t>(index)];
}

TXMLItem::TXMLItem(std::string name) : name_(std::move(name)) {}

TXMLItem::~TXMLItem() = default;

TXMLItem& TXMLItem::AddChild(const std::string& name) {
  TXMLItem& child = children_.Add(name);
  child.parent_ = this;
  return child;
}

void TXMLItem::AddAttribute(const std::string& name, std::string_view value) {
  attributes_ += ' ';
  attributes_ += name;
  attributes_ += "=\"";
  attributes_ += EncodeText(value);
  attributes_ += '"';
}

std::string TXMLItem::AsXml() const {
  std::string out;
  AppendXml(out, std::string());
  return out;
}

void TXMLItem::AppendXml(std::string& out, const std::string& indent) const {
  out += indent;
  out += '<';
  out += name_;
  out += attributes_;
  if (text_.empty() && children_.Count() == 0) {
    out += "/>\r\n";
    return;
  }
  out += '>';
  out += text_;
  if (children_.Count() > 0) {
    out += "\r\n";
    const std::string child_indent = indent + "  ";
    for (const auto& child : children_.items_) child->AppendXml(out, child_indent);
    out += indent;
  }
  out += "</";
  out += name_;
  out += ">\r\n";
}

}  // namespace vellum::exceptlog
