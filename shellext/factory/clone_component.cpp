#include "shellext/factory/clone_component.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "runtime/component/component_stream.h"
#include "runtime/component/property_access.h"
#include "runtime/stream.h"

namespace vellum::shellext {

namespace {

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// A template's references to its siblings on the data module (a designed
// context menu handler) stay references to those siblings in the copy.
// Streaming names them "Owner.Name", or "Name" when the owner has none.
Component* FindSibling(const Component& template_component, const std::string& name) {
  const Component* owner = template_component.Owner();
  if (owner == nullptr) return nullptr;
  const std::size_t dot = name.find('.');
  if (dot == std::string::npos) return owner->FindComponent(name);
  if (!SameText(name.substr(0, dot), owner->Name())) return nullptr;
  return owner->FindComponent(name.substr(dot + 1));
}

}  // namespace

std::unique_ptr<Component> CloneComponent(const Component& template_component,
                                          const std::function<void(const Component& from, Component& to)>& copy_step) {
  MemoryStream stream;
  WriteComponent(stream, template_component);
  stream.SetPosition(0);
  ReadComponentOptions options;
  options.resolve_reference = [&](const std::string& name) { return FindSibling(template_component, name); };
  std::unique_ptr<Component> copy = ReadComponent(stream, options);
  // Streaming does not carry handlers; without this the copy's events (the
  // band's OnGetBandForm) would be unassigned.
  CopyEventHandlers(template_component, *copy);
  if (copy_step) copy_step(template_component, *copy);
  return copy;
}

}  // namespace vellum::shellext
