#include "runtime/strings/format.h"

#include <cinttypes>
#include <cstdio>
#include <limits>

namespace vellum {

std::int64_t FormatArg::signed_integer() const {
  if (bits_ >= 64) return static_cast<std::int64_t>(integer_);
  const std::uint64_t sign = std::uint64_t{1} << (bits_ - 1);
  const std::uint64_t mask = (std::uint64_t{1} << bits_) - 1;
  const std::uint64_t value = integer_ & mask;
  return (value & sign) != 0 ? static_cast<std::int64_t>(value | ~mask) : static_cast<std::int64_t>(value);
}

namespace {

// Widths and precisions beyond this come from a broken pattern, not from a
// report layout; refusing them keeps a "%*d" fed with garbage from
// allocating gigabytes.
constexpr int kMaxWidth = 4096;

struct Directive {
  std::string flags;
  int width = -1;
  int precision = -1;
  char conversion = 0;
};

[[noreturn]] void RaiseBadFormat(std::string_view pattern) {
  throw EConvertError("Format '" + std::string(pattern) + "' invalid or incompatible with argument");
}

class Formatter {
 public:
  Formatter(std::string_view pattern, std::span<const FormatArg> args) : pattern_(pattern), args_(args) {}

  std::string Run() {
    std::size_t i = 0;
    while (i < pattern_.size()) {
      const std::size_t percent = pattern_.find('%', i);
      if (percent == std::string_view::npos) {
        out_.append(pattern_.substr(i));
        break;
      }
      out_.append(pattern_.substr(i, percent - i));
      i = ParseDirective(percent + 1);
    }
    return std::move(out_);
  }

 private:
  const FormatArg& NextArg() {
    if (next_ >= args_.size()) RaiseBadFormat(pattern_);
    return args_[next_++];
  }

  // Digits or "*" (taken from the next argument); nothing there is -1 in
  // `present` terms: the caller learns it through the flag.
  int ParseNumber(std::size_t& i, bool& present) {
    present = false;
    if (i < pattern_.size() && pattern_[i] == '*') {
      ++i;
      present = true;
      const FormatArg& arg = NextArg();
      if (arg.kind() != FormatArg::Kind::kSigned && arg.kind() != FormatArg::Kind::kUnsigned) RaiseBadFormat(pattern_);
      const std::int64_t value =
          arg.kind() == FormatArg::Kind::kSigned ? arg.signed_integer() : static_cast<std::int64_t>(arg.integer());
      if (value > kMaxWidth || value < -kMaxWidth) RaiseBadFormat(pattern_);
      return static_cast<int>(value);
    }
    int value = 0;
    while (i < pattern_.size() && pattern_[i] >= '0' && pattern_[i] <= '9') {
      present = true;
      value = value * 10 + (pattern_[i] - '0');
      if (value > kMaxWidth) RaiseBadFormat(pattern_);
      ++i;
    }
    return value;
  }

  bool StartsAt(std::size_t i, std::string_view text) const { return pattern_.substr(i).starts_with(text); }

  std::size_t ParseDirective(std::size_t i) {
    if (i < pattern_.size() && pattern_[i] == '%') {
      out_ += '%';
      return i + 1;
    }
    Directive directive;
    while (i < pattern_.size() && std::string_view("-+ #0").find(pattern_[i]) != std::string_view::npos) {
      if (directive.flags.find(pattern_[i]) == std::string::npos) directive.flags += pattern_[i];
      ++i;
    }
    bool present = false;
    const int width = ParseNumber(i, present);
    if (present) {
      directive.width = width < 0 ? -width : width;
      if (width < 0 && directive.flags.find('-') == std::string::npos)
        directive.flags += '-';  // "*" given a negative width
    }
    if (i < pattern_.size() && pattern_[i] == '.') {
      ++i;
      const int precision = ParseNumber(i, present);
      directive.precision = !present ? 0 : (precision < 0 ? -1 : precision);
    }
    // Length modifiers, including the Microsoft "I64"/"I32" forms.
    for (;;) {
      if (StartsAt(i, "I64") || StartsAt(i, "I32")) {
        i += 3;
      } else if (i < pattern_.size() && std::string_view("hlLqjztI").find(pattern_[i]) != std::string_view::npos) {
        ++i;
      } else {
        break;
      }
    }
    if (i >= pattern_.size()) RaiseBadFormat(pattern_);
    directive.conversion = pattern_[i];
    Convert(directive);
    return i + 1;
  }

  void Pad(const Directive& directive, std::string_view body) {
    const int fill = directive.width - static_cast<int>(body.size());
    const bool left = directive.flags.find('-') != std::string::npos;
    if (fill > 0 && !left) out_.append(static_cast<std::size_t>(fill), ' ');
    out_.append(body);
    if (fill > 0 && left) out_.append(static_cast<std::size_t>(fill), ' ');
  }

  // Hands one number to the C library with a directive rebuilt for the argument's
  // real type.
  template <typename T>
  void Printf(const Directive& directive, const char* length_and_conversion, T value) {
    std::string printf_directive = "%" + directive.flags;
    if (directive.width >= 0) printf_directive += std::to_string(directive.width);
    if (directive.precision >= 0) printf_directive += "." + std::to_string(directive.precision);
    printf_directive += length_and_conversion;
    const int size = std::snprintf(nullptr, 0, printf_directive.c_str(), value);
    if (size < 0) RaiseBadFormat(pattern_);
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(text.data(), text.size(), printf_directive.c_str(), value);
    text.resize(static_cast<std::size_t>(size));
    out_ += text;
  }

  void Convert(const Directive& directive) {
    using Kind = FormatArg::Kind;
    const FormatArg& arg = NextArg();
    const bool integral = arg.kind() == Kind::kSigned || arg.kind() == Kind::kUnsigned ||
                          arg.kind() == Kind::kCharacter || arg.kind() == Kind::kPointer;
    const std::uint64_t mask = arg.bits() >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << arg.bits()) - 1;
    switch (directive.conversion) {
      case 'd':
      case 'i':
        if (!integral) RaiseBadFormat(pattern_);
        if (arg.kind() == Kind::kSigned) {
          Printf(directive, PRId64, arg.signed_integer());
        } else {
          Printf(directive, PRIu64, arg.integer() & mask);
        }
        return;
      case 'u':
        if (!integral) RaiseBadFormat(pattern_);
        Printf(directive, PRIu64, arg.integer() & mask);
        return;
      case 'x':
        if (!integral) RaiseBadFormat(pattern_);
        Printf(directive, PRIx64, arg.integer() & mask);
        return;
      case 'X':
        if (!integral) RaiseBadFormat(pattern_);
        Printf(directive, PRIX64, arg.integer() & mask);
        return;
      case 'o':
        if (!integral) RaiseBadFormat(pattern_);
        Printf(directive, PRIo64, arg.integer() & mask);
        return;
      case 'c': {
        if (!integral) RaiseBadFormat(pattern_);
        const char c = static_cast<char>(arg.integer() & 0xFF);
        Pad(directive, std::string_view(&c, 1));
        return;
      }
      case 's': {
        std::string_view text;
        std::string holder;
        if (arg.kind() == Kind::kText) {
          text = arg.text();
        } else if (arg.kind() == Kind::kCharacter) {
          holder.assign(1, static_cast<char>(arg.integer()));
          text = holder;
        } else {
          RaiseBadFormat(pattern_);
        }
        if (directive.precision >= 0 && text.size() > static_cast<std::size_t>(directive.precision)) {
          text = text.substr(0, static_cast<std::size_t>(directive.precision));
        }
        Pad(directive, text);
        return;
      }
      case 'p': {
        if (arg.kind() != Kind::kPointer && arg.kind() != Kind::kUnsigned && arg.kind() != Kind::kSigned) {
          RaiseBadFormat(pattern_);
        }
        Pad(directive,
            IntToHexBits(arg.integer() &
                             ((sizeof(void*) >= 8) ? ~std::uint64_t{0} : (std::uint64_t{1} << (sizeof(void*) * 8)) - 1),
                         static_cast<int>(sizeof(void*) * 2)));
        return;
      }
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'a':
      case 'A': {
        double value = 0;
        if (arg.kind() == Kind::kFloat) {
          value = arg.floating();
        } else if (arg.kind() == Kind::kSigned) {
          value = static_cast<double>(arg.signed_integer());
        } else if (arg.kind() == Kind::kUnsigned) {
          value = static_cast<double>(arg.integer());
        } else {
          RaiseBadFormat(pattern_);
        }
        const char conversion[2] = {directive.conversion, '\0'};
        Printf(directive, conversion, value);
        return;
      }
      default: RaiseBadFormat(pattern_);
    }
  }

  std::string_view pattern_;
  std::span<const FormatArg> args_;
  std::size_t next_ = 0;
  std::string out_;
};

bool ParseInteger(std::string_view text, int bits, std::int64_t& result) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  bool hex = false;
  if (i < text.size() && text[i] == '$') {
    hex = true;
    ++i;
  } else if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= text.size()) return false;
  // Hexadecimal may use the whole unsigned range; decimal stops at the signed
  // limit (one more for the negative side).
  const std::uint64_t limit = hex ? (bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1)
                                  : (std::uint64_t{1} << (bits - 1)) - (negative ? 0 : 1);
  const std::uint64_t base = hex ? 16 : 10;
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    std::uint64_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint64_t>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint64_t>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint64_t>(c - 'A' + 10);
    } else {
      return false;
    }
    if (value > (limit - digit) / base) return false;
    value = value * base + digit;
  }
  if (hex && bits < 64 && (value >> (bits - 1)) != 0) {
    value |= ~((std::uint64_t{1} << bits) - 1);  // wraps into the negative range
  }
  const auto magnitude = static_cast<std::int64_t>(value);
  result = negative ? static_cast<std::int64_t>(0 - value) : magnitude;
  return true;
}

[[noreturn]] void RaiseNotInteger(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

}  // namespace

std::string FormatList(std::string_view pattern, std::span<const FormatArg> args) {
  return Formatter(pattern, args).Run();
}

std::string IntToHexBits(std::uint64_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (digits > 64) digits = 64;
  if (static_cast<int>(text.size()) < digits) text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
  return text;
}

bool TryStrToInt(std::string_view text, std::int32_t& value) {
  std::int64_t wide = 0;
  if (!ParseInteger(text, 32, wide)) return false;
  value = static_cast<std::int32_t>(wide);
  return true;
}

std::int32_t StrToInt(std::string_view text) {
  std::int32_t value = 0;
  if (!TryStrToInt(text, value)) RaiseNotInteger(text);
  return value;
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback) {
  std::int32_t value = 0;
  return TryStrToInt(text, value) ? value : fallback;
}

bool TryStrToInt64(std::string_view text, std::int64_t& value) {
  return ParseInteger(text, 64, value);
}

std::int64_t StrToInt64(std::string_view text) {
  std::int64_t value = 0;
  if (!TryStrToInt64(text, value)) RaiseNotInteger(text);
  return value;
}

std::int64_t StrToInt64Def(std::string_view text, std::int64_t fallback) {
  std::int64_t value = 0;
  return TryStrToInt64(text, value) ? value : fallback;
}

}  // namespace vellum
