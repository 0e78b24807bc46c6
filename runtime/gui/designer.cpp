#include "runtime/gui/designer.h"

#include "runtime/component/property_access.h"
#include "runtime/exception.h"

namespace vellum::gui {

namespace {

PropertyValue Convert(const PropertyInfo& property, const DesignValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    if (property.kind == PropertyKind::kEnumeration) return property.ElementOrdinal(*text);
    if (property.kind == PropertyKind::kSet) {
      std::int64_t bits = 0;
      std::size_t start = 0;
      while (start < text->size()) {
        std::size_t end = text->find(',', start);
        if (end == std::string::npos) end = text->size();
        std::string element = text->substr(start, end - start);
        while (!element.empty() && element.front() == ' ') element.erase(0, 1);
        while (!element.empty() && element.back() == ' ') element.pop_back();
        if (!element.empty()) bits |= std::int64_t{1} << property.ElementOrdinal(element);
        start = end + 1;
      }
      return bits;
    }
    return *text;
  }
  if (const auto* number = std::get_if<std::int64_t>(&value)) return *number;
  if (const auto* flag = std::get_if<bool>(&value)) return *flag;
  return std::get<Component*>(value);
}

}  // namespace

void Design(Persistent& target, std::initializer_list<Designed> values) {
  for (const Designed& designed : values) {
    const PropertyInfo& property = GetPropertyInfo(target, designed.property);
    try {
      SetPropertyValue(target, designed.property, Convert(property, designed.value));
    } catch (const EPropertyError& e) {
      throw EPropertyError("Error designing " + target.ClassName() + "." + property.name + ": " + e.Message());
    }
  }
}

}  // namespace vellum::gui
