#include "exceptlog/capture/options/module_options.h"

#include "exceptlog/capture/options/computer_name.h"
#include "exceptlog/capture/options/log_file_name.h"
#include "exceptlog/capture/options/module_identity.h"

namespace vellum::exceptlog {

const char* const kDefaultSmtpSender = "bugreport@example.com";
const char* const kDefaultFreezeText = "The application seems to be frozen.";
const char* const kDefaultHtmlTemplate =
    "<html>\r\n"
    "  <head>\r\n"
    "  </head>\r\n"
    "  <body TopMargin=10 LeftMargin=10>\r\n"
    "    <table width=\"100%\" border=\"0\">\r\n"
    "      <tr>\r\n"
    "        <td nowrap>\r\n"
    "          <font face=\"Lucida Console, Courier\" size=\"2\">\r\n"
    "            <%HTML_TAG%>\r\n"
    "          </font>\r\n"
    "        </td>\r\n"
    "      </tr>\r\n"
    "    </table>\r\n"
    "  </body>\r\n"
    "</html>";

TRuzadaModuleOptions::TRuzadaModuleOptions(std::string module_file_name, bool publish)
    : publish_(publish), module_file_name_(std::move(module_file_name)) {
  SetDefaults();
}

void TRuzadaModuleOptions::SetDefaults() {
  InUpdateBracket([this] { TakeValues(ModuleOptionValues{}); });
}

void TRuzadaModuleOptions::Assign(const TRuzadaModuleOptions* source) {
  if (source == nullptr) throw EConvertError("Impossible to assign nil as TRuzadaModuleOptions.");
  if (source == this) return;
  InUpdateBracket([this, source] { TakeValues(source->values_); });
}

// Expands its arguments for options whose setter is virtual only.
#define VELLUM_FOR_VIRTUAL_SETTER_Plain(...)
#define VELLUM_FOR_VIRTUAL_SETTER_Own(...)
#define VELLUM_FOR_VIRTUAL_SETTER_Virtual(...) __VA_ARGS__
#define VELLUM_OLD_FIELD(Reader, From, Before)

void TRuzadaModuleOptions::TakeValues(const ModuleOptionValues& source) {
  // An option with a virtual setter keeps its value until its setter runs, so
  // that an overriding class sees the change (the freeze watchdog's switch).
  // The rest is copied in place, which reuses the strings' buffers.
#define VELLUM_OPTION(Name, Type, Since, Stored, Setter, ...) \
  VELLUM_FOR_VIRTUAL_SETTER_##Setter(const Type previous_##Name = values_.Name;)
#include "exceptlog/capture/options/module_option_table.inc"
#undef VELLUM_OPTION
  values_ = source;
#define VELLUM_OPTION(Name, Type, Since, Stored, Setter, ...) \
  VELLUM_FOR_VIRTUAL_SETTER_##Setter(values_.Name = previous_##Name; Set##Name(source.Name);)
#include "exceptlog/capture/options/module_option_table.inc"
#undef VELLUM_OPTION
}

#undef VELLUM_OLD_FIELD
#undef VELLUM_FOR_VIRTUAL_SETTER_Plain
#undef VELLUM_FOR_VIRTUAL_SETTER_Own
#undef VELLUM_FOR_VIRTUAL_SETTER_Virtual

void TRuzadaModuleOptions::Changed() {
  if (update_count_ <= 0 && publish_ && IsModuleOfThisCode(module_file_name_)) ChangeHook();
}

std::string TRuzadaModuleOptions::LogFileName(const std::string& module_file_name) const {
  std::optional<std::string> computer_name;
  if (values_.LogFlags.Contains(lfComputerNameInFileName)) computer_name = LocalComputerName();
  return ComposeLogFileName(module_file_name, values_.LogFilePath, computer_name);
}

const std::string& TRuzadaModuleOptions::GetText(int index) const {
  if (index < 0 || index >= kCustomizedTextCount) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  }
  return values_.Texts[index];
}

void TRuzadaModuleOptions::SetText(int index, std::string text) {
  if (index < 0 || index >= kCustomizedTextCount) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  }
  values_.Texts[index] = std::move(text);
  Changed();
}

void TRuzadaModuleOptions::SetModuleFileName(std::string name) {
  module_file_name_ = std::move(name);
  Changed();
}

void TRuzadaModuleOptions::SetEnabled(bool value) {
  enabled_ = value;
  Changed();
}

void TRuzadaModuleOptions::SetFreezeCheck(bool value) {
  values_.FreezeCheck = value;
  Changed();
}

void TRuzadaModuleOptions::SetLogMaxReports(std::int32_t value) {
  // The log keeps at least the report being written.
  values_.LogMaxReports = value == 0 ? 1 : value;
  Changed();
}

}  // namespace vellum::exceptlog
