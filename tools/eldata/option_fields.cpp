#include "tools/eldata/option_fields.h"

#include <charconv>
#include <functional>
#include <limits>
#include <map>
#include <type_traits>

#include "exceptlog/capture/options/module_option_table.h"

namespace vellum::eldata {
namespace {

using exceptlog::TRuzadaModuleOptions;

struct Accessor {
  OptionField Field;
  std::function<std::string(const TRuzadaModuleOptions&)> Get;
  std::function<void(TRuzadaModuleOptions&, std::string_view)> Set;
  std::function<std::vector<std::string>(const TRuzadaModuleOptions&)> GetList;
  std::function<void(TRuzadaModuleOptions&, std::vector<std::string>)> SetList;
};

std::uint64_t ParseNumber(std::string_view text, std::uint64_t largest, bool allow_negative, std::int64_t smallest) {
  std::string_view digits = text;
  const bool negative = !digits.empty() && digits.front() == '-';
  if (negative) digits.remove_prefix(1);
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    throw EConvertError("'" + std::string(text) + "' is not a number");
  }
  if (negative) {
    if (!allow_negative || value > static_cast<std::uint64_t>(-(smallest + 1)) + 1) {
      throw EConvertError("'" + std::string(text) + "' is out of range");
    }
    return static_cast<std::uint64_t>(-static_cast<std::int64_t>(value));
  }
  if (value > largest) throw EConvertError("'" + std::string(text) + "' is out of range");
  return value;
}

bool ParseBoolean(std::string_view text) {
  if (text == "true" || text == "1") return true;
  if (text == "false" || text == "0") return false;
  throw EConvertError("'" + std::string(text) + "' is not true or false");
}

// The text forms follow from the option's type; every option of a type is
// shown and set alike.
template <typename T>
constexpr OptionKind KindOf() {
  if constexpr (std::is_same_v<T, std::string>) return OptionKind::kString;
  if constexpr (std::is_same_v<T, bool>) return OptionKind::kBoolean;
  if constexpr (std::is_integral_v<T>) return OptionKind::kNumber;
  if constexpr (exceptlog::kIsFlagSet<T> || std::is_same_v<T, exceptlog::TReportFields>) return OptionKind::kFlags;
  return OptionKind::kStringList;
}

template <typename T>
std::string ToText(const T& value) {
  if constexpr (std::is_same_v<T, std::string>) {
    return value;
  } else if constexpr (std::is_same_v<T, bool>) {
    return value ? "true" : "false";
  } else if constexpr (std::is_integral_v<T>) {
    return std::to_string(value);
  } else if constexpr (exceptlog::kIsFlagSet<T>) {
    return std::to_string(value.ToBits());
  } else {
    static_assert(std::is_same_v<T, exceptlog::TReportFields>);
    std::uint64_t bits = 0;
    const auto& bytes = value.ToBytes();
    for (std::size_t i = 0; i < bytes.size(); ++i) bits |= std::uint64_t{bytes[i]} << (8 * i);
    return std::to_string(bits);
  }
}

template <typename T>
T FromText(std::string_view text) {
  if constexpr (std::is_same_v<T, std::string>) {
    return std::string(text);
  } else if constexpr (std::is_same_v<T, bool>) {
    return ParseBoolean(text);
  } else if constexpr (std::is_integral_v<T>) {
    const bool is_signed = std::numeric_limits<T>::is_signed;
    return static_cast<T>(ParseNumber(text, static_cast<std::uint64_t>(std::numeric_limits<T>::max()), is_signed,
                                      static_cast<std::int64_t>(std::numeric_limits<T>::min())));
  } else if constexpr (exceptlog::kIsFlagSet<T>) {
    using Bits = decltype(T().ToBits());
    return T(static_cast<Bits>(ParseNumber(text, std::numeric_limits<Bits>::max(), false, 0)));
  } else {
    static_assert(std::is_same_v<T, exceptlog::TReportFields>);
    const std::uint64_t bits = ParseNumber(text, (std::uint64_t{1} << 40) - 1, false, 0);
    exceptlog::TReportFields::Bytes bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    return exceptlog::TReportFields(bytes);
  }
}

std::vector<std::string> ToList(const std::vector<std::string>& values) {
  return values;
}
std::vector<std::string> ToList(const exceptlog::TCustomizedTexts& texts) {
  return std::vector<std::string>(texts.begin(), texts.end());
}

template <typename T>
T FromList(std::vector<std::string> values) {
  if constexpr (std::is_same_v<T, std::vector<std::string>>) {
    return values;
  } else {
    static_assert(std::is_same_v<T, exceptlog::TCustomizedTexts>);
    if (values.size() != exceptlog::kCustomizedTextCount) throw EConvertError("Texts needs 96 entries");
    exceptlog::TCustomizedTexts texts;
    std::move(values.begin(), values.end(), texts.begin());
    return texts;
  }
}

template <typename T>
Accessor MakeAccessor(const exceptlog::ModuleOption<T>& option) {
  Accessor accessor{{option.Name, KindOf<T>()}, {}, {}, {}, {}};
  if constexpr (KindOf<T>() == OptionKind::kStringList) {
    accessor.GetList = [get = option.Get](const TRuzadaModuleOptions& o) { return ToList((o.*get)()); };
    accessor.SetList = [set = option.Set](TRuzadaModuleOptions& o, std::vector<std::string> values) {
      (o.*set)(FromList<T>(std::move(values)));
    };
  } else {
    accessor.Get = [get = option.Get](const TRuzadaModuleOptions& o) { return ToText((o.*get)()); };
    accessor.Set = [set = option.Set](TRuzadaModuleOptions& o, std::string_view text) { (o.*set)(FromText<T>(text)); };
  }
  return accessor;
}

// In the order exlog has always listed them.
std::vector<Accessor> MakeAccessors() {
  std::vector<Accessor> accessors(exceptlog::kModuleOptionCount);
  exceptlog::ForEachModuleOption(
      [&accessors](const auto& option) { accessors[static_cast<std::size_t>(option.Listed)] = MakeAccessor(option); });
  return accessors;
}

const std::vector<Accessor>& Accessors() {
  static const std::vector<Accessor> accessors = MakeAccessors();
  return accessors;
}

const Accessor& Find(std::string_view name) {
  for (const Accessor& accessor : Accessors()) {
    if (accessor.Field.Name == name) return accessor;
  }
  throw EConvertError("unknown option '" + std::string(name) + "'");
}

std::string Unescaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 'r' ? '\r' : next == 'n' ? '\n' : next == 't' ? '\t' : next;
  }
  return out;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

std::string JsonString(std::string_view text) {
  static const char hex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      // Texts are 8-bit; each byte stands for the code point of the same
      // number, so the JSON stays valid whatever the bytes are.
      out += "\\u00";
      out += hex[byte >> 4];
      out += hex[byte & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

const std::vector<OptionField>& OptionFields() {
  static const std::vector<OptionField> fields = [] {
    std::vector<OptionField> result;
    for (const Accessor& accessor : Accessors()) result.push_back(accessor.Field);
    return result;
  }();
  return fields;
}

std::string OptionText(const TRuzadaModuleOptions& options, std::string_view name) {
  const Accessor& accessor = Find(name);
  if (!accessor.Get) throw EConvertError("option '" + std::string(name) + "' is a list");
  return accessor.Get(options);
}

std::vector<std::string> OptionList(const TRuzadaModuleOptions& options, std::string_view name) {
  const Accessor& accessor = Find(name);
  if (!accessor.GetList) throw EConvertError("option '" + std::string(name) + "' is not a list");
  return accessor.GetList(options);
}

void SetOptionText(TRuzadaModuleOptions& options, std::string_view name, std::string_view value) {
  const Accessor& accessor = Find(name);
  if (!accessor.Set) throw EConvertError("option '" + std::string(name) + "' is a list");
  accessor.Set(options, value);
}

void SetOptionList(TRuzadaModuleOptions& options, std::string_view name, std::vector<std::string> values) {
  const Accessor& accessor = Find(name);
  if (!accessor.SetList) throw EConvertError("option '" + std::string(name) + "' is not a list");
  accessor.SetList(options, std::move(values));
}

void ApplyOptionsFile(TRuzadaModuleOptions& options, std::string_view text, const std::string& file_name) {
  std::map<std::string, std::vector<std::string>, std::less<>> lists;
  int line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const std::size_t end = text.find('\n');
    const std::string_view line = Trimmed(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    try {
      const std::size_t equals = line.find('=');
      if (equals == std::string_view::npos) throw EConvertError("expected Name = value");
      const bool append = equals > 0 && line[equals - 1] == '+';
      const std::string_view name = Trimmed(line.substr(0, append ? equals - 1 : equals));
      const std::string value = Unescaped(Trimmed(line.substr(equals + 1)));
      if (name.starts_with("Texts[") && name.ends_with("]")) {
        const auto index = ParseNumber(name.substr(6, name.size() - 7), exceptlog::kCustomizedTextCount - 1, false, 0);
        options.SetText(static_cast<int>(index), value);
      } else if (append) {
        OptionList(options, name);  // refuses names that are no lists
        lists[std::string(name)].push_back(value);
      } else {
        SetOptionText(options, name, value);
      }
    } catch (const EConvertError& e) {
      throw EConvertError(file_name + ":" + std::to_string(line_number) + ": " + e.Message());
    }
  }
  for (auto& [name, values] : lists) SetOptionList(options, name, std::move(values));
}

std::string OptionsJson(const TRuzadaModuleOptions& options, int indent) {
  const std::string pad(static_cast<std::size_t>(indent), ' ');
  std::string out = "{";
  bool first = true;
  for (const Accessor& accessor : Accessors()) {
    out += first ? "\n" : ",\n";
    first = false;
    out += pad + "  " + JsonString(accessor.Field.Name) + ": ";
    switch (accessor.Field.Kind) {
      case OptionKind::kString: out += JsonString(accessor.Get(options)); break;
      case OptionKind::kBoolean:
      case OptionKind::kNumber:
      case OptionKind::kFlags: out += accessor.Get(options); break;
      case OptionKind::kStringList: {
        out += "[";
        const auto values = accessor.GetList(options);
        for (std::size_t i = 0; i < values.size(); ++i) out += (i ? ", " : "") + JsonString(values[i]);
        out += "]";
        break;
      }
    }
  }
  return out + "\n" + pad + "}";
}

}  // namespace vellum::eldata
