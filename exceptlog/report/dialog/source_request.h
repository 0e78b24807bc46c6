// The request a developer's listener gets when a call stack row with a line
// is activated: where in the source the row points, as a fixed record of
// 4112 bytes for the mailslot "\\.\mailslot\DeveruVuz".
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace vellum::exceptlog {

inline constexpr const char* kSourceRequestMailslot = "\\\\.\\mailslot\\DeveruVuz";
inline constexpr std::size_t kSourceRequestSize = 4112;

struct SourceRequest {
  std::string unit, class_name, procedure;
  double compile_date = 0;  // of the row's module; 0 when unknown
  std::int32_t line = 0;
  std::int32_t offset = -1;
};

// Names longer than their field are cut so that each stays NUL-terminated.
std::array<std::uint8_t, kSourceRequestSize> EncodeSourceRequest(const SourceRequest& request);
// None for a message of another size.
std::optional<SourceRequest> DecodeSourceRequest(const std::uint8_t* bytes, std::size_t size);

// One line for a developer: "unit: Class.Procedure line 123 [+4] (compiled
// yyyy-mm-dd hh:nn:ss)"; the offset and the date only when known.
std::string SourceRequestText(const SourceRequest& request);

}  // namespace vellum::exceptlog
