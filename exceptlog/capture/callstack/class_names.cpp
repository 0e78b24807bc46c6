#include "exceptlog/capture/callstack/class_names.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace vellum::exceptlog {

namespace {

std::string Demangled(const char* mangled) {
  int status = 0;
  const std::unique_ptr<char, decltype(&std::free)> text(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                         &std::free);
  return status == 0 && text ? std::string(text.get()) : std::string(mangled);
}

bool Matches(const std::type_info& type, std::initializer_list<std::string_view> names, int depth) {
  // Class hierarchies are shallow; the bound only guards against damaged
  // type information.
  if (depth > 64) return false;
  const std::string name = UnqualifiedClassName(type);
  for (std::string_view wanted : names) {
    if (name == wanted) return true;
  }
  if (const auto* single = dynamic_cast<const abi::__si_class_type_info*>(&type)) {
    return Matches(*single->__base_type, names, depth + 1);
  }
  if (const auto* multiple = dynamic_cast<const abi::__vmi_class_type_info*>(&type)) {
    for (unsigned i = 0; i < multiple->__base_count; ++i) {
      if (Matches(*multiple->__base_info[i].__base_type, names, depth + 1)) return true;
    }
  }
  return false;
}

}  // namespace

std::string UnqualifiedClassName(const std::type_info& type) {
  std::string name = Demangled(type.name());
  const std::size_t template_start = name.find('<');
  if (template_start != std::string::npos) name.resize(template_start);
  const std::size_t scope = name.rfind("::");
  return scope == std::string::npos ? name : name.substr(scope + 2);
}

bool ClassOrAncestorNamed(const std::type_info& type, std::initializer_list<std::string_view> names) {
  return Matches(type, names, 0);
}

}  // namespace vellum::exceptlog
