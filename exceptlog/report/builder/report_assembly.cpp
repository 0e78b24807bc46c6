#include "exceptlog/report/builder/report_assembly.h"

#include "exceptlog/capture/options/customized_texts.h"
#include "exceptlog/report/builder/log_item.h"
#include "runtime/strings/format.h"
#include "runtime/strings/string_utils.h"

namespace vellum::exceptlog {

namespace {

std::string Parameters(const std::vector<std::string>& parameters) {
  std::string text;
  for (const std::string& parameter : parameters) {
    if (!text.empty()) text += ' ';
    text += "\"" + parameter + "\"";
  }
  return text;
}

}  // namespace

DuplicateKeys GeneralDuplicateKeys(const GeneralFacts& facts) {
  // A 32-bit process's address keeps its 8 digits whatever the caller held it in.
  const std::uint64_t address =
      facts.address_width == AddressWidth::k64Bit ? facts.exception_address : facts.exception_address & 0xFFFFFFFFu;
  return {address != 0 ? IntToHex(address, AddressDigits(facts.address_width)) : std::string(), facts.exception_module,
          facts.exception_type.value_or("Unknown exception type."),
          facts.exception_message ? MessageFieldText(*facts.exception_message) : "Unknown error message."};
}

std::string GeneralPart(const TRuzadaModuleOptions& options, const GeneralFacts& facts) {
  const TReportFields fields = options.ReportFields();
  const int zone = facts.zone_offset_minutes;
  TLogItem item(0);
  int bit = 0;
  const auto field = [&](const std::string& value, bool allowed = true) {
    item.AddField(options.GetText(ReportFieldTextIndex(bit)), value, allowed && fields.Contains(bit));
    ++bit;
  };

  item.AddSection(options.GetText(kTextLogApplicationHeader));
  field(ReportDateText(facts.start_date, zone));
  field(facts.name_description);
  field(facts.version);
  field(Parameters(facts.parameters));
  field(UtcSerialDateText(facts.compile_date_utc, zone));

  const DuplicateKeys keys = GeneralDuplicateKeys(facts);
  item.AddSection(options.GetText(kTextLogExceptionHeader));
  field(ReportDateText(facts.exception_date, zone));
  field(keys.address);
  field(keys.module);
  field(keys.type);
  field(keys.message);

  item.AddSection(options.GetText(kTextLogActiveControlsHeader));
  field(facts.form_class, facts.show_active_controls);
  field(WindowFieldText(facts.form_text), facts.show_active_controls);
  field(facts.control_class, facts.show_active_controls);
  field(WindowFieldText(facts.control_text), facts.show_active_controls);

  item.AddSection(options.GetText(kTextLogComputerHeader));
  field(facts.computer_name);
  field(facts.user_name);
  field(MegabytesText(facts.total_memory));
  field(MegabytesText(facts.free_memory));
  field(GigabytesText(facts.total_disk));
  field(GigabytesText(facts.free_disk));
  field(UpTimeText(facts.up_time_milliseconds));
  field(facts.processor);
  field(facts.display_mode);

  item.AddSection(options.GetText(kTextLogOperatingSystemHeader));
  field(OperatingSystemName(facts.system));
  field(OperatingSystemBuild(facts.system));
  field(Trim(facts.system.service_pack));
  field(facts.language);

  item.AddSection(options.GetText(kTextLogNetworkHeader));
  field(facts.network.ip_address);
  field(facts.network.mask);
  field(facts.network.gateway);
  field(facts.network.dns1);
  field(facts.network.dns2);
  field(facts.network.dhcp);

  return std::string(kReportFormatLine) + "\r\n\r\n" + item.GetText();
}

ReportTexts BuildReport(const TRuzadaModuleOptions& options, const ReportInput& input) {
  const auto progress = [&](int code) {
    if (input.call_stack.progress) input.call_stack.progress(code);
  };
  progress(7021);
  if (input.general.address_width != input.address_width || input.call_stack.address_width != input.address_width ||
      input.cpu.address_width != input.address_width) {
    throw EReportLayoutError("The sections of one report disagree on the width of its addresses.");
  }
  ReportTexts report;
  progress(7022);
  report.general = GeneralPart(options, input.general);
  report.tables =
      CallStackSection(options, input.call_stack) + ModulesSection(options, input.modules, input.address_width);
  report.cpu = CpuSection(options, input.cpu);
  report.full = report.general + "\r\n" + report.tables + report.cpu;
  report.to_send = report.full;
  report.duplicate_keys = GeneralDuplicateKeys(input.general);
  report.heading = options.GetText(kTextDialogErrorMessage) + "\r\n\r\n";
  report.compact_message = CompactMessageText(report.duplicate_keys.message);
  return report;
}

void AddCustomInformation(ReportTexts& report, const TRuzadaModuleOptions& options, const std::string& custom_data) {
  if (custom_data.empty()) return;
  TLogItem item(6);
  item.AddSection(options.GetText(kTextDialogCustomDataHeader));
  item.AddField("", custom_data, true);
  report.general += "\r\n" + item.GetText();
  report.full = report.general + "\r\n" + report.tables + report.cpu;
  report.to_send = report.full;
}

void AddReproduceSteps(ReportTexts& report, const TRuzadaModuleOptions& options, const std::string& steps) {
  const std::size_t first = steps.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return;
  const std::string trimmed = steps.substr(first, steps.find_last_not_of(" \t\r\n") - first + 1);
  TLogItem item(7);
  item.AddSection(options.GetText(kTextReproduceCaption));
  item.AddField("", trimmed, options.LogFlags().Contains(lfAskReproduceSteps));
  report.general += "\r\n" + item.GetText();
  report.full = report.general + "\r\n" + report.tables + report.cpu;
  report.to_send = report.full;
}

}  // namespace vellum::exceptlog
