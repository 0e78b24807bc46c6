#include "tools/eldata/option_fields.h"

#include <charconv>
#include <functional>
#include <limits>
#include <map>

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

template <typename T>
Accessor Number(std::string_view name, const T& (TRuzadaModuleOptions::*get)() const,
                void (TRuzadaModuleOptions::*set)(T)) {
  return {{name, OptionKind::kNumber},
          [get](const TRuzadaModuleOptions& o) { return std::to_string((o.*get)()); },
          [set](TRuzadaModuleOptions& o, std::string_view text) {
            const bool is_signed = std::numeric_limits<T>::is_signed;
            const auto value = ParseNumber(text, static_cast<std::uint64_t>(std::numeric_limits<T>::max()), is_signed,
                                           static_cast<std::int64_t>(std::numeric_limits<T>::min()));
            (o.*set)(static_cast<T>(value));
          },
          {},
          {}};
}

Accessor Text(std::string_view name, const std::string& (TRuzadaModuleOptions::*get)() const,
              void (TRuzadaModuleOptions::*set)(std::string)) {
  return {{name, OptionKind::kString},
          [get](const TRuzadaModuleOptions& o) { return (o.*get)(); },
          [set](TRuzadaModuleOptions& o, std::string_view text) { (o.*set)(std::string(text)); },
          {},
          {}};
}

Accessor Boolean(std::string_view name, const bool& (TRuzadaModuleOptions::*get)() const,
                 void (TRuzadaModuleOptions::*set)(bool)) {
  return {{name, OptionKind::kBoolean},
          [get](const TRuzadaModuleOptions& o) { return std::string((o.*get)() ? "true" : "false"); },
          [set](TRuzadaModuleOptions& o, std::string_view text) { (o.*set)(ParseBoolean(text)); },
          {},
          {}};
}

template <typename Set>
Accessor Flags(std::string_view name, const Set& (TRuzadaModuleOptions::*get)() const,
               void (TRuzadaModuleOptions::*set)(Set)) {
  using Bits = decltype(Set().ToBits());
  return {{name, OptionKind::kFlags},
          [get](const TRuzadaModuleOptions& o) { return std::to_string((o.*get)().ToBits()); },
          [set](TRuzadaModuleOptions& o, std::string_view text) {
            (o.*set)(Set(static_cast<Bits>(ParseNumber(text, std::numeric_limits<Bits>::max(), false, 0))));
          },
          {},
          {}};
}

Accessor List(std::string_view name, const std::vector<std::string>& (TRuzadaModuleOptions::*get)() const,
              void (TRuzadaModuleOptions::*set)(std::vector<std::string>)) {
  return {{name, OptionKind::kStringList},
          {},
          {},
          [get](const TRuzadaModuleOptions& o) { return (o.*get)(); },
          [set](TRuzadaModuleOptions& o, std::vector<std::string> values) { (o.*set)(std::move(values)); }};
}

std::vector<Accessor> MakeAccessors() {
  using O = TRuzadaModuleOptions;
  std::vector<Accessor> a;
  a.push_back(Text("SmtpSender", &O::SmtpSender, &O::SetSmtpSender));
  a.push_back(Text("SmtpServer", &O::SmtpServer, &O::SetSmtpServer));
  a.push_back(Text("SmtpUser", &O::SmtpUser, &O::SetSmtpUser));
  a.push_back(Text("SmtpPassword", &O::SmtpPassword, &O::SetSmtpPassword));
  a.push_back(Number("SmtpPort", &O::SmtpPort, &O::SetSmtpPort));
  a.push_back(Number("TerminateAction", &O::TerminateAction, &O::SetTerminateAction));
  a.push_back({{"FreezeCheck", OptionKind::kBoolean},
               [](const O& o) { return std::string(o.FreezeCheck() ? "true" : "false"); },
               [](O& o, std::string_view text) { o.SetFreezeCheck(ParseBoolean(text)); },
               {},
               {}});
  a.push_back(Number("FreezeSeconds", &O::FreezeSeconds, &O::SetFreezeSeconds));
  a.push_back(Text("FreezeText", &O::FreezeText, &O::SetFreezeText));
  a.push_back({{"ReportFields", OptionKind::kFlags},
               [](const O& o) {
                 std::uint64_t bits = 0;
                 const auto& bytes = o.ReportFields().ToBytes();
                 for (std::size_t i = 0; i < bytes.size(); ++i) bits |= std::uint64_t{bytes[i]} << (8 * i);
                 return std::to_string(bits);
               },
               [](O& o, std::string_view text) {
                 const std::uint64_t bits = ParseNumber(text, (std::uint64_t{1} << 40) - 1, false, 0);
                 exceptlog::TReportFields::Bytes bytes{};
                 for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(bits >> (8 * i));
                 o.SetReportFields(exceptlog::TReportFields(bytes));
               },
               {},
               {}});
  a.push_back(List("FilterClassNames", &O::FilterClassNames, &O::SetFilterClassNames));
  a.push_back(List("FilterMessages", &O::FilterMessages, &O::SetFilterMessages));
  a.push_back({{"Texts", OptionKind::kStringList},
               {},
               {},
               [](const O& o) { return std::vector<std::string>(o.Texts().begin(), o.Texts().end()); },
               [](O& o, std::vector<std::string> values) {
                 if (values.size() != exceptlog::kCustomizedTextCount) throw EConvertError("Texts needs 96 entries");
                 exceptlog::TCustomizedTexts texts;
                 std::move(values.begin(), values.end(), texts.begin());
                 o.SetTexts(std::move(texts));
               }});
  a.push_back(Boolean("ReportingFlag", &O::ReportingFlag, &O::SetReportingFlag));
  a.push_back(Boolean("FilterEnabled", &O::FilterEnabled, &O::SetFilterEnabled));
  a.push_back(Boolean("LogInMessageBody", &O::LogInMessageBody, &O::SetLogInMessageBody));
  a.push_back(Boolean("TerminateButtonEnabled", &O::TerminateButtonEnabled, &O::SetTerminateButtonEnabled));
  a.push_back(Boolean("SaveLog", &O::SaveLog, &O::SetSaveLog));
  a.push_back(Flags("LogFlags", &O::LogFlags, &O::SetLogFlags));
  a.push_back(Flags("SendFlags", &O::SendFlags, &O::SetSendFlags));
  a.push_back(Number("DialogFirstTab", &O::DialogFirstTab, &O::SetDialogFirstTab));
  a.push_back({{"LogMaxReports", OptionKind::kNumber},
               [](const O& o) { return std::to_string(o.LogMaxReports()); },
               [](O& o, std::string_view text) {
                 o.SetLogMaxReports(static_cast<std::int32_t>(ParseNumber(text, 0x7FFFFFFF, true, INT32_MIN)));
               },
               {},
               {}});
  a.push_back(Number("TerminateButtonAfter", &O::TerminateButtonAfter, &O::SetTerminateButtonAfter));
  a.push_back(Text("LogFilePath", &O::LogFilePath, &O::SetLogFilePath));
  a.push_back(Text("MailRecipients", &O::MailRecipients, &O::SetMailRecipients));
  a.push_back(Text("MailSubject", &O::MailSubject, &O::SetMailSubject));
  a.push_back(Text("MailBody", &O::MailBody, &O::SetMailBody));
  a.push_back(Number("MailMethod", &O::MailMethod, &O::SetMailMethod));
  a.push_back(Number("UploadMethod", &O::UploadMethod, &O::SetUploadMethod));
  a.push_back(Text("ExtraFiles", &O::ExtraFiles, &O::SetExtraFiles));
  a.push_back(Flags("DialogFlags", &O::DialogFlags, &O::SetDialogFlags));
  a.push_back(Number("DialogAutoCloseSeconds", &O::DialogAutoCloseSeconds, &O::SetDialogAutoCloseSeconds));
  a.push_back(Text("SupportPage", &O::SupportPage, &O::SetSupportPage));
  a.push_back(Text("HtmlTemplate", &O::HtmlTemplate, &O::SetHtmlTemplate));
  a.push_back(Number("BurstAction", &O::BurstAction, &O::SetBurstAction));
  a.push_back(Number("BurstCount", &O::BurstCount, &O::SetBurstCount));
  a.push_back(Number("BurstMinutes", &O::BurstMinutes, &O::SetBurstMinutes));
  a.push_back(Flags("StackFlags", &O::StackFlags, &O::SetStackFlags));
  a.push_back(Flags("BehaviorFlags", &O::BehaviorFlags, &O::SetBehaviorFlags));
  a.push_back(Text("UploadAddress", &O::UploadAddress, &O::SetUploadAddress));
  a.push_back(Number("UploadPort", &O::UploadPort, &O::SetUploadPort));
  a.push_back(Text("UploadPassword", &O::UploadPassword, &O::SetUploadPassword));
  a.push_back(Text("UploadUser", &O::UploadUser, &O::SetUploadUser));
  return a;
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
