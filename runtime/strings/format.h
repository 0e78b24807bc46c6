// printf-style formatting into std::string, and the integer conversions the
// rest of the system writes its report text and registry values with.
//
// Format checks every argument against its conversion at run time instead of
// trusting a C varargs list: a std::string may be passed for "%s", and a
// mismatch (a string for "%d", too few arguments) raises EConvertError rather
// than reading garbage off the stack.
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "runtime/exception.h"

namespace vellum {

// One argument of Format, remembering its kind and, for integers, its width,
// so that "%X" of a negative 32-bit value prints 8 digits, not 16.
class FormatArg {
 public:
  enum class Kind { kSigned, kUnsigned, kCharacter, kFloat, kText, kPointer };

  template <typename T>
  requires(std::integral<T> && !std::same_as<T, char> && !std::same_as<T, bool>)
      FormatArg(T value)  // NOLINT(google-explicit-constructor): built from Format's pack
      : kind_(std::is_signed_v<T> ? Kind::kSigned : Kind::kUnsigned),
        bits_(static_cast<int>(sizeof(T) * 8)),
        integer_(static_cast<std::uint64_t>(value)) {}
  FormatArg(bool value) : kind_(Kind::kUnsigned), bits_(8), integer_(value ? 1 : 0) {}
  FormatArg(char value)
      : kind_(Kind::kCharacter), bits_(8), integer_(static_cast<std::uint64_t>(static_cast<unsigned char>(value))) {}
  template <typename T>
  requires std::is_enum_v<T> FormatArg(T value) : FormatArg(static_cast<std::underlying_type_t<T>>(value)) {}
  template <typename T>
  requires std::floating_point<T> FormatArg(T value) : kind_(Kind::kFloat), floating_(static_cast<double>(value)) {}
  FormatArg(const char* text) : kind_(Kind::kText), text_(text != nullptr ? text : "") {}
  FormatArg(char* text) : FormatArg(static_cast<const char*>(text)) {}
  FormatArg(const std::string& text) : kind_(Kind::kText), text_(text) {}
  FormatArg(std::string_view text) : kind_(Kind::kText), text_(text) {}
  FormatArg(const void* pointer)
      : kind_(Kind::kPointer),
        bits_(static_cast<int>(sizeof(void*) * 8)),
        integer_(reinterpret_cast<std::uintptr_t>(pointer)) {}
  FormatArg(std::nullptr_t) : FormatArg(static_cast<const void*>(nullptr)) {}

  Kind kind() const { return kind_; }
  int bits() const { return bits_; }
  std::uint64_t integer() const { return integer_; }
  // The value as a signed number of its own width (for kSigned).
  std::int64_t signed_integer() const;
  double floating() const { return floating_; }
  std::string_view text() const { return text_; }

 private:
  Kind kind_;
  int bits_ = 64;
  std::uint64_t integer_ = 0;
  double floating_ = 0;
  std::string_view text_;
};

// The checked formatter behind Format. Conversions: d i u x X o c s p e E f g
// G and "%%"; flags "-+ #0", width and precision as digits or "*"; C length
// modifiers (h, l, ll, z, I64...) are accepted and ignored because the
// argument's own type decides. "%p" prints upper-case hexadecimal padded to
// the pointer's width.
std::string FormatList(std::string_view pattern, std::span<const FormatArg> args);

template <typename... Args>
std::string Format(std::string_view pattern, const Args&... args) {
  const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
  return FormatList(pattern, list);
}

// Upper-case hexadecimal of at least `digits` digits. Negative values print in
// two's complement of their own width: IntToHex(-1, 1) is "FFFFFFFF" for int.
std::string IntToHexBits(std::uint64_t value, int digits);
template <std::integral T>
std::string IntToHex(T value, int digits) {
  return IntToHexBits(static_cast<std::uint64_t>(static_cast<std::make_unsigned_t<T>>(value)), digits);
}

template <std::integral T>
std::string IntToStr(T value) {
  return std::to_string(value);
}

// Decimal, or hexadecimal after "$", "0x" or "x"; leading blanks and a sign
// are allowed, anything after the digits is not. Hexadecimal takes the full
// unsigned range of the result type and wraps ("$FFFFFFFF" is -1). Failures
// raise EConvertError "'<text>' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);
std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback);
bool TryStrToInt(std::string_view text, std::int32_t& value);
std::int64_t StrToInt64(std::string_view text);
std::int64_t StrToInt64Def(std::string_view text, std::int64_t fallback);
bool TryStrToInt64(std::string_view text, std::int64_t& value);

}  // namespace vellum
