// The rows of module_option_table.inc as C++ values, for code that handles
// every option alike: eldata's options by name, the tests that walk them all.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "exceptlog/capture/options/module_options.h"

namespace vellum::exceptlog {

template <typename T>
struct ModuleOption {
  std::string_view Name;
  int Listed = 0;  // place in exlog's listing
  T ModuleOptionValues::*Member = nullptr;
  const T& (TRuzadaModuleOptions::*Get)() const = nullptr;
  void (TRuzadaModuleOptions::*Set)(T) = nullptr;  // through the setter, so a change is announced
};

// Calls `visit(ModuleOption<Type>)` for every option, in the stored order.
template <typename Visitor>
void ForEachModuleOption(Visitor&& visit) {
#define VELLUM_OPTION(Name, Type, Since, Stored, Setter, Listed, ...)                             \
  visit(ModuleOption<Type>{#Name, Listed, &ModuleOptionValues::Name, &TRuzadaModuleOptions::Name, \
                           &TRuzadaModuleOptions::Set##Name});
#define VELLUM_OLD_FIELD(Reader, From, Before)
#include "exceptlog/capture/options/module_option_table.inc"
#undef VELLUM_OPTION
#undef VELLUM_OLD_FIELD
}

inline constexpr int kModuleOptionCount = 0
#define VELLUM_OPTION(...) +1
#define VELLUM_OLD_FIELD(Reader, From, Before)
#include "exceptlog/capture/options/module_option_table.inc"
#undef VELLUM_OPTION
#undef VELLUM_OLD_FIELD
    ;

namespace detail {
constexpr bool ListedOnceEach() {
  std::array<int, kModuleOptionCount> seen{};
  for (const int place : {
#define VELLUM_OPTION(Name, Type, Since, Stored, Setter, Listed, ...) Listed,
#define VELLUM_OLD_FIELD(Reader, From, Before)
#include "exceptlog/capture/options/module_option_table.inc"
#undef VELLUM_OPTION
#undef VELLUM_OLD_FIELD
       }) {
    if (place < 0 || place >= kModuleOptionCount || seen[static_cast<std::size_t>(place)]++ != 0) return false;
  }
  return true;
}
}  // namespace detail
static_assert(detail::ListedOnceEach(), "every option needs a place of its own in the listing, from 0 on");

}  // namespace vellum::exceptlog
