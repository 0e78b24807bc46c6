#include "exceptlog/report/system/report_entry_win.h"

#include <windows.h>
#include <cxxabi.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "exceptlog/capture/callstack/win/module_record_win.h"
#include "exceptlog/capture/callstack/win/modules_list_win.h"
#include "exceptlog/capture/callstack/win/process_address_win.h"
#include "exceptlog/capture/callstack/win/process_memory_win.h"
#include "exceptlog/capture/callstack/win/threads_list_win.h"
#include "exceptlog/report/builder/report_values.h"
#include "exceptlog/report/system/machine_facts_win.h"
#include "exceptlog/report/system/system_facts_win.h"
#include "runtime/threading/multi_read_exclusive_write_sync_win.h"

namespace vellum::exceptlog {

namespace {

std::string ExceptionModule(const PipelineReport& report) {
  const std::uint64_t address = report.record.RaiseAddress;
  if (address == 0) return {};
  // The pipeline listed the raising module when it chose its options; its
  // record has the file name the system would answer, without the long
  // path asked again.
  if (report.record.Modules != nullptr) {
    if (const auto listed = report.record.Modules->FindInImages(address)) return FileNameOf(listed->FileName);
  }
  HMODULE module = ModuleOfAddress(address);
  return module != nullptr ? FileNameOf(LoadedModuleFileName(module)) : std::string();
}

ThreadFacts FactsOfRecord(TRuzadaThreadRecord& record) {
  ThreadFacts facts;
  if (record.Priority == kNoPriority && record.Handle != nullptr) {
    const int priority = GetThreadPriority(record.Handle);
    if (priority != THREAD_PRIORITY_ERROR_RETURN) record.Priority = priority;
  }
  facts.priority = record.Priority == kNoPriority ? std::string("??") : std::to_string(record.Priority);
  if (record.ThreadObject != nullptr) facts.class_name = ThreadObjectClassName(record.ThreadObject);
  return facts;
}

// The facts of every listed thread the call stack has entries of, read
// under one read lock (enough to store a priority read late: only the
// report reads the snapshot's records). The list's lock takes two system
// calls each time; taken for each thread group, it cost a report of nine
// threads about a millisecond under Wine.
std::map<std::uint32_t, ThreadFacts> ShownThreadFacts(TRuzadaThreadsList& threads, const TRuzadaStackList* entries) {
  std::set<std::uint32_t> ids;
  if (entries != nullptr) {
    for (const TRuzadaDebugInfo& entry : entries->Entries()) ids.insert(entry.ThreadId);
  }
  std::map<std::uint32_t, ThreadFacts> facts;
  ScopedReadLock guard(threads.Lock());
  for (const std::uint32_t id : ids) {
    const int index = threads.IndexOfThreadId(id);
    if (index >= 0) facts.emplace(id, FactsOfRecord(*threads.Items(index)));
  }
  return facts;
}

std::vector<ModuleRow> ModuleRows(const TRuzadaModulesList* modules) {
  std::vector<ModuleRow> rows;
  if (modules == nullptr) return rows;
  for (int i = 0; i < modules->Count(); ++i) {
    const TRuzadaModuleInfo& module = *modules->Items(i);
    rows.push_back({module.Handle, module.FileName, module.Description, module.Version, module.Size, module.FileDate});
  }
  return rows;
}

// The words at the report's stack pointer as the raise left them: from the
// raise's copy where it holds them (the live stack there belongs to the
// catch point's calls by now), else from the live stack.
bool ReadStackAsRaised(const PipelineReport& report, const ProcessMemoryReader& memory, std::uint8_t* out,
                       std::uint32_t size) {
  const std::uint64_t at = report.stack_pointer;
  const std::uint64_t start = report.stack_copy_address;
  const std::span<const std::uint8_t> copy = report.stack_copy;
  if (at >= start && at - start <= copy.size() && size <= copy.size() - (at - start)) {
    std::memcpy(out, copy.data() + (at - start), size);
    return true;
  }
  return memory.Read(at, out, size);
}

CpuInput CpuFacts(const PipelineReport& report) {
  CpuInput input;
  input.address_width = ReportAddressWidth(report);
  if (const auto* r = std::get_if<PipelineRegisters>(&report.context)) {
    input.registers = CpuRegisters{r->eax, r->ebx, r->ecx, r->edx, r->esi, r->edi, r->esp, r->eip};
  } else if (const auto* w = std::get_if<PipelineRegisters64>(&report.context)) {
    input.registers = CpuRegisters64{w->rax, w->rbx, w->rcx, w->rdx, w->rsi, w->rdi, w->rbp, w->rsp, w->r8,
                                     w->r9,  w->r10, w->r11, w->r12, w->r13, w->r14, w->r15, w->rip, w->eflags};
  }
  const std::uint64_t stack_pointer = report.stack_pointer;
  const std::uint64_t address = report.record.RaiseAddress;
  input.stack_pointer = stack_pointer;
  input.address = address;
  const ProcessMemoryReader memory;
  std::array<std::uint8_t, kStackDumpBytes> stack{};
  std::array<std::uint8_t, 256> code{};
  // Only the words the dump shows: more could fail at the stack's top.
  const auto stack_bytes = static_cast<std::uint32_t>(StackDumpBytes(input.address_width));
  if (ReadStackAsRaised(report, memory, stack.data(), stack_bytes) && memory.Read(address, code.data(), code.size())) {
    input.stack = stack;
    input.code = code;
  }
  return input;
}

}  // namespace

GeneralFacts GatherGeneralFacts(const PipelineReport& report, const TRuzadaModuleOptions& options,
                                MachineFacts& machine) {
  GeneralFacts facts;
  facts.zone_offset_minutes = LocalZoneOffsetMinutes();
  facts.start_date = report.subsystem_start;
  std::optional<MainModuleFacts> main = machine.MainModule();
  if (!main) main = MainModuleVersion();
  facts.name_description = main->name_description;
  facts.version = main->version;
  facts.parameters = CommandLineParameters(GetCommandLineA());
  if (report.record.Modules != nullptr) {
    const auto own = report.record.Modules->Find(ToPointer<std::remove_pointer_t<HMODULE>>(report.subsystem_module));
    if (own != nullptr) facts.compile_date_utc = own->CompileDate;
  }
  facts.exception_date = report.pipeline_start;
  facts.exception_address = report.record.RaiseAddress;
  facts.address_width = ReportAddressWidth(report);
  facts.exception_module = ExceptionModule(report);
  if (report.class_known) facts.exception_type = report.class_name;
  if (report.record.RaisedException != nullptr) facts.exception_message = report.message;
  facts.show_active_controls = !report.console && !report.web_program;
  const bool wants_controls = facts.show_active_controls;
  if (wants_controls) {
    const WindowFacts foreground = ForegroundWindow();
    facts.form_class = foreground.class_name;
    facts.form_text = foreground.text;
    facts.control_class = report.focused_control_class;
    facts.control_text = report.focused_control_text;
  }
  const TReportFields fields = options.ReportFields();
  // Each question only when its field is shown: some take their time. What
  // changes rarely comes from the machine's kept facts when they are there;
  // what changes all the time (memory, disk space, up time, the foreground
  // window) is asked now.
  if (fields.Contains(14)) facts.computer_name = ComputerName();
  if (fields.Contains(15)) facts.user_name = UserName();
  const MemoryFacts memory = PhysicalMemory();
  facts.total_memory = memory.total;
  facts.free_memory = memory.available;
  if (fields.Contains(18) || fields.Contains(19)) {
    HMODULE module = ToPointer<std::remove_pointer_t<HMODULE>>(report.subsystem_module);
    std::optional<std::string> root = machine.DriveRoot(module);
    if (!root) root = DriveRootOf(module);
    const DiskFacts disk = DriveSpace(*root);
    facts.total_disk = disk.total;
    facts.free_disk = disk.free;
  }
  facts.up_time_milliseconds = UpTimeMilliseconds();
  if (fields.Contains(21)) {
    const std::optional<std::string> processor = machine.Processor();
    facts.processor = processor ? *processor : ProcessorName();
  }
  if (fields.Contains(22)) facts.display_mode = DisplayMode();
  facts.system = OperatingSystemVersion();
  if (fields.Contains(26)) facts.language = SystemLanguageName();
  bool network = false;
  for (int bit = 27; bit <= 32; ++bit) network = network || fields.Contains(bit);
  if (network) {
    std::optional<std::vector<NetworkAdapter>> adapters = machine.Adapters();
    if (!adapters) adapters = NetworkAdapters();
    facts.network = NetworkFieldTexts(*adapters);
  }
  return facts;
}

std::string ThreadObjectClassName(const void* object) {
  // The object's table, the type record before it, the record's name: each
  // read only when the memory is there.
  const ProcessMemoryReader memory;
  // Pointer-sized words: the type record sits one word before the table,
  // its name one word into the record.
  constexpr std::uint64_t kWord = sizeof(void*);
  const std::optional<std::uintptr_t> table = memory.ReadValue<std::uintptr_t>(ToAddress(object));
  if (!table || *table < kWord) return {};
  const std::optional<std::uintptr_t> type = memory.ReadValue<std::uintptr_t>(*table - kWord);
  if (!type) return {};
  const std::optional<std::uintptr_t> name_address = memory.ReadValue<std::uintptr_t>(*type + kWord);
  if (!name_address) return {};
  std::string mangled;
  for (std::uint32_t i = 0; i < 512; ++i) {
    const std::optional<char> c = memory.ReadValue<char>(*name_address + i);
    if (!c) return {};
    if (*c == 0) break;
    mangled += *c;
  }
  // The compiler marks a class local to one unit with a leading "*".
  if (!mangled.empty() && mangled.front() == '*') mangled.erase(0, 1);
  if (mangled.empty()) return {};
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status),
                                                        &std::free);
  const std::string name = status == 0 && demangled != nullptr ? std::string(demangled.get()) : mangled;
  const std::size_t scope = name.rfind("::");
  return scope == std::string::npos ? name : name.substr(scope + 2);
}

AddressWidth ReportAddressWidth(const PipelineReport& report) {
  return report.wide ? AddressWidth::k64Bit : AddressWidth::k32Bit;
}

CallStackInput ReportCallStackInput(const PipelineReport& report) {
  CallStackInput input;
  input.address_width = ReportAddressWidth(report);
  input.entries = report.record.StackEntries;
  input.main_thread_id = report.main_thread_id;
  if (report.threads != nullptr) {
    auto facts = std::make_shared<const std::map<std::uint32_t, ThreadFacts>>(
        ShownThreadFacts(*report.threads, report.record.StackEntries));
    input.thread_facts = [facts](std::uint32_t id) -> std::optional<ThreadFacts> {
      const auto found = facts->find(id);
      if (found == facts->end()) return std::nullopt;
      return found->second;
    };
  }
  input.progress = report.set_progress;
  return input;
}

std::vector<ModuleRow> ReportModuleRows(const PipelineReport& report) {
  return ModuleRows(report.record.Modules);
}

ReportTexts BuildReportTexts(const PipelineReport& report) {
  return BuildReportTexts(report, MachineFacts::Shared());
}

ReportTexts BuildReportTexts(const PipelineReport& report, MachineFacts& machine) {
  if (report.set_progress) report.set_progress(7021);
  const TRuzadaModuleOptions& options = *report.record.Options;
  ReportInput input;
  input.address_width = ReportAddressWidth(report);
  input.general = GatherGeneralFacts(report, options, machine);
  input.call_stack = ReportCallStackInput(report);
  if (options.LogFlags().Contains(lfModulesSection)) input.modules = ModuleRows(report.record.Modules);
  if (options.LogFlags().Contains(lfCpuSection)) input.cpu = CpuFacts(report);
  return BuildReport(options, input);
}

std::string BuildReportStep(PipelineReport& report, PipelineContext&) {
  report.texts = std::make_shared<ReportTexts>(BuildReportTexts(report));
  return report.texts->full;
}

std::string AddCustomDataStep(PipelineReport& report, PipelineContext&) {
  // Without the texts the build step makes, the text stays as it is.
  if (!report.texts) return report.record.ReportText;
  AddCustomInformation(*report.texts, *report.record.Options, report.custom_data);
  return report.texts->full;
}

std::string AddReproduceStepsStep(PipelineReport& report, const std::string& steps) {
  if (!report.texts) return report.record.ReportText;
  AddReproduceSteps(*report.texts, *report.record.Options, steps);
  return report.texts->full;
}

}  // namespace vellum::exceptlog
