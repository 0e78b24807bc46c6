#include "runtime/component/component_stream.h"

#include <cstring>
#include <vector>

#include "runtime/component/property_access.h"
#include "runtime/exception.h"

namespace vellum {

namespace {

constexpr char kSignature[4] = {'V', 'C', 'S', '1'};
constexpr int kMaxDepth = 64;
constexpr std::uint32_t kMaxStringLength = 64u << 20;

// ---- writing ---------------------------------------------------------------

void PutString(Stream& stream, const std::string& text) {
  stream.WriteValue<std::uint32_t>(static_cast<std::uint32_t>(text.size()));
  stream.WriteString(text);
}

std::string QualifiedName(const Component& component, const Component& root) {
  for (const Component* c = &component; c != nullptr; c = c->Owner()) {
    if (c == &root) return component.Name();  // inside the tree: plain name
  }
  if (component.Owner() != nullptr && !component.Owner()->Name().empty()) {
    return component.Owner()->Name() + "." + component.Name();
  }
  return component.Name();
}

void WriteProperties(Stream& stream, const Persistent& object, const Component& root) {
  for (const PropertyInfo* property : object.GetClass().Properties()) {
    if (property->kind == PropertyKind::kEvent || property->name == "Name") continue;
    if (property->ReadOnly()) continue;
    const PropertyValue value = property->get(object);
    PutString(stream, property->name);
    stream.WriteValue<std::uint8_t>(static_cast<std::uint8_t>(property->kind));
    switch (property->kind) {
      case PropertyKind::kInteger: stream.WriteValue<std::int64_t>(std::get<std::int64_t>(value)); break;
      case PropertyKind::kBoolean: stream.WriteValue<std::uint8_t>(std::get<bool>(value) ? 1 : 0); break;
      case PropertyKind::kString: PutString(stream, std::get<std::string>(value)); break;
      case PropertyKind::kEnumeration: PutString(stream, property->ElementName(std::get<std::int64_t>(value))); break;
      case PropertyKind::kSet: {
        const auto bits = static_cast<std::uint64_t>(std::get<std::int64_t>(value));
        std::vector<const std::string*> members;
        for (std::size_t i = 0; i < property->element_names.size() && i < 64; ++i) {
          if ((bits >> i) & 1u) members.push_back(&property->element_names[i]);
        }
        stream.WriteValue<std::uint32_t>(static_cast<std::uint32_t>(members.size()));
        for (const std::string* member : members) PutString(stream, *member);
        break;
      }
      case PropertyKind::kObject: WriteProperties(stream, *std::get<Persistent*>(value), root); break;
      case PropertyKind::kReference: {
        const Component* target = std::get<Component*>(value);
        PutString(stream, target == nullptr ? std::string() : QualifiedName(*target, root));
        break;
      }
      case PropertyKind::kEvent: break;
    }
  }
  PutString(stream, std::string());  // end of the property list
}

}  // namespace

class ComponentWriter {
 public:
  static void Write(Stream& stream, const Component& component, const Component& root) {
    PutString(stream, component.ClassName());
    PutString(stream, component.Name());
    WriteProperties(stream, component, root);
    std::vector<const Component*> children;
    for (const auto& owned : component.owned_) {
      if (component.StoresChild(*owned)) children.push_back(owned.get());
    }
    stream.WriteValue<std::uint32_t>(static_cast<std::uint32_t>(children.size()));
    for (const Component* child : children) Write(stream, *child, root);
  }
};

void WriteComponent(Stream& stream, const Component& root) {
  stream.WriteBuffer(kSignature, sizeof kSignature);
  ComponentWriter::Write(stream, root, root);
}

// ---- reading ---------------------------------------------------------------

namespace {

struct Fixup {
  Persistent* object;
  const PropertyInfo* property;
  std::string target_name;
};

class Reader {
 public:
  Reader(Stream& stream, const ReadComponentOptions& options) : stream_(stream), options_(options) {}

  std::unique_ptr<Component> ReadRoot() {
    char signature[4];
    stream_.ReadBuffer(signature, sizeof signature);
    if (std::memcmp(signature, kSignature, sizeof signature) != 0) Fail("Invalid stream format");
    std::unique_ptr<Component> root = ReadObject(0);
    ResolveFixups(*root);
    for (Component* component : loaded_) component->EndLoading();
    return root;
  }

 private:
  [[noreturn]] static void Fail(const std::string& message) { throw EReadError(message); }

  std::uint32_t Count(std::uint32_t smallest_item) {
    const auto count = stream_.ReadValue<std::uint32_t>();
    // Every item takes at least `smallest_item` bytes, so a count larger than
    // the rest of the stream can hold is damage, not data.
    if (static_cast<std::int64_t>(count) * smallest_item > Remaining()) Fail("Stream read error");
    return count;
  }

  std::int64_t Remaining() { return stream_.Size() - stream_.Position(); }

  std::string GetString() {
    const auto length = stream_.ReadValue<std::uint32_t>();
    if (length > kMaxStringLength || length > Remaining()) Fail("Stream read error");
    std::string text(length, '\0');
    stream_.ReadBuffer(text.data(), length);
    return text;
  }

  std::unique_ptr<Component> ReadObject(int depth) {
    if (depth > kMaxDepth) Fail("Component tree nested too deeply");
    const std::string class_name = GetString();
    const ClassInfo& info = GetClass(class_name);
    if (!info.InheritsFrom(Component::StaticClass())) Fail("Class " + class_name + " is not a component");
    std::unique_ptr<Persistent> created = info.Create();
    std::unique_ptr<Component> component(static_cast<Component*>(created.release()));
    component->BeginLoading();
    loaded_.push_back(component.get());
    component->SetName(GetString());
    ReadProperties(*component, depth);
    const std::uint32_t children = Count(12);
    for (std::uint32_t i = 0; i < children; ++i) component->InsertComponent(ReadObject(depth + 1));
    return component;
  }

  void ReadProperties(Persistent& object, int depth) {
    if (depth > kMaxDepth) Fail("Property objects nested too deeply");
    for (;;) {
      const std::string name = GetString();
      if (name.empty()) return;
      const auto kind = static_cast<PropertyKind>(stream_.ReadValue<std::uint8_t>());
      const PropertyInfo* property = object.GetClass().FindProperty(name);
      if (property == nullptr) Fail("Error reading " + object.ClassName() + "." + name + ": Property does not exist");
      if (property->kind != kind || property->ReadOnly()) {
        Fail("Error reading " + object.ClassName() + "." + name + ": Invalid property value");
      }
      try {
        ReadValue(object, *property, depth);
      } catch (const EPropertyError& e) {
        Fail("Error reading " + object.ClassName() + "." + name + ": " + e.Message());
      }
    }
  }

  void ReadValue(Persistent& object, const PropertyInfo& property, int depth) {
    switch (property.kind) {
      case PropertyKind::kInteger: property.set(object, stream_.ReadValue<std::int64_t>()); break;
      case PropertyKind::kBoolean: property.set(object, stream_.ReadValue<std::uint8_t>() != 0); break;
      case PropertyKind::kString: property.set(object, GetString()); break;
      case PropertyKind::kEnumeration: property.set(object, property.ElementOrdinal(GetString())); break;
      case PropertyKind::kSet: {
        std::int64_t bits = 0;
        const std::uint32_t count = Count(4);
        for (std::uint32_t i = 0; i < count; ++i) {
          const std::int64_t ordinal = property.ElementOrdinal(GetString());
          if (ordinal >= 64) Fail("Invalid property value");
          bits |= std::int64_t{1} << ordinal;
        }
        property.set(object, bits);
        break;
      }
      case PropertyKind::kObject: {
        Persistent* nested = std::get<Persistent*>(property.get(object));
        ReadProperties(*nested, depth + 1);
        break;
      }
      case PropertyKind::kReference: {
        std::string target = GetString();
        if (!target.empty())
          fixups_.push_back({&object, &property, std::move(target)});
        else
          property.set(object, static_cast<Component*>(nullptr));
        break;
      }
      case PropertyKind::kEvent: Fail("Invalid property value");
    }
  }

  static Component* FindInTree(Component& root, const std::string& name) {
    if (root.Name() == name) return &root;
    for (int i = 0; i < root.ComponentCount(); ++i) {
      if (Component* found = FindInTree(*root.Components(i), name)) return found;
    }
    return nullptr;
  }

  void ResolveFixups(Component& root) {
    for (const Fixup& fixup : fixups_) {
      Component* target = FindInTree(root, fixup.target_name);
      if (target == nullptr && options_.resolve_reference) target = options_.resolve_reference(fixup.target_name);
      if (target != nullptr) fixup.property->set(*fixup.object, target);
    }
  }

  Stream& stream_;
  const ReadComponentOptions& options_;
  std::vector<Fixup> fixups_;
  std::vector<Component*> loaded_;
};

}  // namespace

std::unique_ptr<Component> ReadComponent(Stream& stream, const ReadComponentOptions& options) {
  return Reader(stream, options).ReadRoot();
}

}  // namespace vellum
