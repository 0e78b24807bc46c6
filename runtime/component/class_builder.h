// Declares a class's published properties from its accessors:
//
//   const ClassInfo& TPanel::StaticClass() {
//     static const ClassInfo info = ClassBuilder<TPanel>("TPanel", &TControl::StaticClass())
//         .Property("Caption", &TPanel::Caption, &TPanel::SetCaption)
//         .Enumeration("Align", &TPanel::Align, &TPanel::SetAlign, {"alNone", "alTop", ...})
//         .Event("OnResize", &TPanel::OnResize)
//         .Build();
//     return info;
//   }
//
// Getters may be member functions or callables taking `const T&`; setters
// member functions or callables taking `T&` and the value.
#pragma once

#include <concepts>
#include <functional>
#include <type_traits>

#include "runtime/component/class_info.h"
#include "runtime/component/persistent.h"
#include "runtime/exception.h"

namespace vellum {

namespace detail {

template <typename T, typename Getter>
using GetterResult = std::remove_cvref_t<std::invoke_result_t<Getter, const T&>>;

template <typename V>
V FromInteger(const PropertyValue& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return static_cast<V>(*number);
  throw EPropertyError("Invalid property value");
}

}  // namespace detail

template <typename T>
class ClassBuilder {
 public:
  ClassBuilder(std::string name, const ClassInfo* parent) : name_(std::move(name)), parent_(parent) {
    if constexpr (std::is_default_constructible_v<T> && !std::is_abstract_v<T>) {
      factory_ = [] { return std::unique_ptr<Persistent>(std::make_unique<T>()); };
    }
  }

  // Integer, Boolean or String, decided by the getter's result type.
  template <typename Getter, typename Setter>
  ClassBuilder& Property(std::string name, Getter getter, Setter setter) {
    using V = detail::GetterResult<T, Getter>;
    PropertyInfo info;
    info.name = std::move(name);
    if constexpr (std::is_same_v<V, bool>) {
      info.kind = PropertyKind::kBoolean;
      info.get = [getter](const Persistent& o) { return PropertyValue(std::invoke(getter, Self(o))); };
      info.set = [setter](Persistent& o, const PropertyValue& v) {
        const auto* flag = std::get_if<bool>(&v);
        if (flag == nullptr) throw EPropertyError("Invalid property value");
        std::invoke(setter, Self(o), *flag);
      };
    } else if constexpr (std::is_integral_v<V>) {
      info.kind = PropertyKind::kInteger;
      info.get = [getter](const Persistent& o) {
        return PropertyValue(static_cast<std::int64_t>(std::invoke(getter, Self(o))));
      };
      info.set = [setter](Persistent& o, const PropertyValue& v) {
        std::invoke(setter, Self(o), detail::FromInteger<V>(v));
      };
    } else if constexpr (std::is_convertible_v<V, std::string>) {
      info.kind = PropertyKind::kString;
      info.get = [getter](const Persistent& o) { return PropertyValue(std::string(std::invoke(getter, Self(o)))); };
      info.set = [setter](Persistent& o, const PropertyValue& v) {
        const auto* text = std::get_if<std::string>(&v);
        if (text == nullptr) throw EPropertyError("Invalid property value");
        std::invoke(setter, Self(o), *text);
      };
    } else {
      static_assert(sizeof(V) == 0, "use Enumeration, Set, Object, Reference or Event for this property");
    }
    properties_.push_back(std::move(info));
    return *this;
  }

  // An enumeration; ordinals index `names`.
  template <typename Getter, typename Setter>
  ClassBuilder& Enumeration(std::string name, Getter getter, Setter setter, std::vector<std::string> names) {
    using V = detail::GetterResult<T, Getter>;
    PropertyInfo info;
    info.name = std::move(name);
    info.kind = PropertyKind::kEnumeration;
    info.element_names = std::move(names);
    const std::size_t count = info.element_names.size();
    info.get = [getter](const Persistent& o) {
      return PropertyValue(static_cast<std::int64_t>(std::invoke(getter, Self(o))));
    };
    info.set = [setter, count](Persistent& o, const PropertyValue& v) {
      const auto ordinal = detail::FromInteger<std::int64_t>(v);
      if (ordinal < 0 || static_cast<std::size_t>(ordinal) >= count) throw EPropertyError("Invalid property value");
      std::invoke(setter, Self(o), static_cast<V>(ordinal));
    };
    properties_.push_back(std::move(info));
    return *this;
  }

  // A set held as an integral bit mask; bit i is element `names[i]`.
  template <typename Getter, typename Setter>
  ClassBuilder& Set(std::string name, Getter getter, Setter setter, std::vector<std::string> names) {
    using V = detail::GetterResult<T, Getter>;
    PropertyInfo info;
    info.name = std::move(name);
    info.kind = PropertyKind::kSet;
    info.element_names = std::move(names);
    info.get = [getter](const Persistent& o) {
      return PropertyValue(static_cast<std::int64_t>(std::invoke(getter, Self(o))));
    };
    info.set = [setter](Persistent& o, const PropertyValue& v) {
      std::invoke(setter, Self(o), detail::FromInteger<V>(v));
    };
    properties_.push_back(std::move(info));
    return *this;
  }

  // A nested persistent object that the object owns (never null); streaming
  // writes and reads its properties in place.
  template <typename Getter>
  ClassBuilder& Object(std::string name, Getter getter) {
    PropertyInfo info;
    info.name = std::move(name);
    info.kind = PropertyKind::kObject;
    info.get = [getter](const Persistent& o) {
      const Persistent& nested = std::invoke(getter, Self(o));
      return PropertyValue(const_cast<Persistent*>(&nested));
    };
    info.set = [getter](Persistent& o, const PropertyValue& v) {
      const auto* source = std::get_if<Persistent*>(&v);
      if (source == nullptr) throw EPropertyError("Invalid property value");
      Persistent& nested = const_cast<Persistent&>(static_cast<const Persistent&>(std::invoke(getter, Self(o))));
      nested.Assign(*source);
    };
    properties_.push_back(std::move(info));
    return *this;
  }

  // A reference to a component of class C held elsewhere (may be null).
  template <typename C, typename Getter, typename Setter>
  ClassBuilder& Reference(std::string name, Getter getter, Setter setter) {
    PropertyInfo info;
    info.name = std::move(name);
    info.kind = PropertyKind::kReference;
    info.value_type = typeid(C);
    info.get = [getter](const Persistent& o) {
      return PropertyValue(static_cast<Component*>(std::invoke(getter, Self(o))));
    };
    info.set = [setter](Persistent& o, const PropertyValue& v) {
      const auto* target = std::get_if<Component*>(&v);
      if (target == nullptr) throw EPropertyError("Invalid property value");
      C* typed = *target == nullptr ? nullptr : dynamic_cast<C*>(*target);
      if (*target != nullptr && typed == nullptr) throw EPropertyError("Invalid property value");
      std::invoke(setter, Self(o), typed);
    };
    properties_.push_back(std::move(info));
    return *this;
  }

  // An event: a std::function data member. Handlers are read and assigned by
  // name as std::any holding that std::function type.
  template <typename Handler>
  ClassBuilder& Event(std::string name, Handler T::*member) {
    PropertyInfo info;
    info.name = std::move(name);
    info.kind = PropertyKind::kEvent;
    info.value_type = typeid(Handler);
    info.get = [member](const Persistent& o) { return PropertyValue(std::any(Self(o).*member)); };
    info.set = [member](Persistent& o, const PropertyValue& v) {
      const auto* holder = std::get_if<std::any>(&v);
      if (holder == nullptr) throw EPropertyError("Invalid property value");
      if (!holder->has_value()) {
        Self(o).*member = Handler{};
        return;
      }
      const auto* handler = std::any_cast<Handler>(holder);
      if (handler == nullptr) throw EPropertyError("Incompatible event handler");
      Self(o).*member = *handler;
    };
    properties_.push_back(std::move(info));
    return *this;
  }

  // Overrides the default factory (T's default constructor), or removes it
  // with nullptr for classes that must not be created by name.
  ClassBuilder& Factory(ClassInfo::Factory factory) {
    factory_ = std::move(factory);
    return *this;
  }

  ClassInfo Build() { return ClassInfo(std::move(name_), parent_, std::move(factory_), std::move(properties_)); }

 private:
  static const T& Self(const Persistent& o) { return static_cast<const T&>(o); }
  static T& Self(Persistent& o) { return static_cast<T&>(o); }

  std::string name_;
  const ClassInfo* parent_;
  ClassInfo::Factory factory_;
  std::vector<PropertyInfo> properties_;
};

}  // namespace vellum
