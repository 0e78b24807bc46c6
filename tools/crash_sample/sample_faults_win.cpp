#include "tools/crash_sample/sample_faults_win.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "exceptlog/capture/callstack/stack_entry.h"
#include "exceptlog/capture/component/deveru_vuz.h"
#include "exceptlog/capture/manager/exception_manager_win.h"
#include "exceptlog/delivery/assembly/module_steps_win.h"
#include "runtime/exception.h"
#include "runtime/strings/format.h"
#include "runtime/threading/thread_win.h"
#include "runtime/win/unique_handle_win.h"
#include "shellext/factory/com_boundary_win.h"
#include "tools/crash_sample/sample_delivery_win.h"

namespace vellum::crash_sample {

// A pure virtual procedure called while the object is still being built:
// the call goes through the base class's table, whose slot is the runtime's
// pure-call handler. Outside the anonymous namespace and not final, so the
// compiler cannot know every class that implements it.
struct Base {
  Base();
  virtual ~Base() = default;
  virtual void Pure() = 0;
};
__attribute__((noipa)) void CallPureOf(Base& object) {
  object.Pure();
}
Base::Base() {
  CallPureOf(*this);
}
struct Derived : Base {
  void Pure() override {}
};

namespace {

volatile int* volatile null_pointer = nullptr;
volatile int zero = 0;
volatile int sink = 0;

VELLUM_EXCEPTION_CLASS(ESampleError, Exception);

// As many digits as the process's addresses have: 8, or 16 in a 64-bit process.
std::string Hex(std::uint64_t value) {
  return IntToHex(static_cast<std::uintptr_t>(value), static_cast<int>(2 * sizeof(void*)));
}

// "unit:procedure:line" of the first entry the debug data or exports name.
std::string TopOfStack(const exceptlog::TRuzadaExceptionRecord& record) {
  if (record.StackEntries == nullptr) return "?";
  for (const exceptlog::TRuzadaDebugInfo& entry : record.StackEntries->Entries()) {
    if (!entry.Named()) continue;
    std::string procedure = entry.ClassName.empty() ? entry.ProcedureName : entry.ClassName + "." + entry.ProcedureName;
    return entry.UnitName + ":" + procedure + ":" + std::to_string(entry.Line);
  }
  return "?";
}

std::string ClassOf(const exceptlog::TRuzadaExceptionRecord& record) {
  if (const auto* ours = dynamic_cast<const Exception*>(record.RaisedException)) return ours->ClassName();
  return "Exception";
}

__attribute__((noinline)) void ThrowSampleError() {
  throw ESampleError("Sample error.");
}

__attribute__((noinline)) void ReadNull() {
  sink = *null_pointer;
}

__attribute__((noinline)) void DivideByZero() {
  sink = 100 / zero;
}

class FailingThread final : public Thread {
 public:
  ~FailingThread() override { TerminateAndWait(); }

 protected:
  void Execute() override { throw ESampleError("Error in a runtime thread."); }
};

DWORD WINAPI FailingRoutine(void*) {
  throw ESampleError("Error in a plain thread.");
}

// Deep on purpose; the depth limit is only there to keep the compiler from
// calling it infinite.
volatile int depth_limit = 1 << 30;
__attribute__((noinline)) int Recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (depth > depth_limit) return frame[0];
  return Recurse(depth + 1) + frame[0];
}

// A COM method whose body fails: the boundary reports it (once, as a
// safecall exception) and answers the method's fixed result.
class FailingPersist final : public IPersist {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    return shellext::ComBoundary("IPersist::GetClassID", E_FAIL, [&]() -> HRESULT {
      *clsid = CLSID_NULL;
      throw ESampleError("Error in a COM method.");
    });
  }
};

void ReportSafeCall(const std::exception_ptr& error, const char*) {
  exceptlog::ReportEscapedException(error, exceptlog::rkGeneral, exceptlog::rtSafeCall);
}

// An exception that reaches a noexcept boundary ends in std::terminate.
void ThrowThroughNoexcept() noexcept {
  try {
    ThrowSampleError();
  } catch (...) {
    std::rethrow_exception(std::current_exception());
  }
}

}  // namespace

void PrintLine(const std::string& line) {
  const std::string text = line + "\r\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void InstallReportPrinter() {
  // Owned by nobody but the program: it lives until the program ends.
  static auto* printer = new exceptlog::TDeveruVuz;
  printer->OnExceptionNotify = [](const exceptlog::TRuzadaExceptionRecord& record, bool& handled) {
    std::string message;
    if (record.RaisedException != nullptr) message = record.RaisedException->what();
    PrintLine("report: " + ClassOf(record) + " | " + message + " | " + Hex(record.RaiseAddress) + " | " +
              TopOfStack(record));
    handled = true;
  };
}

void InstallPipelineSteps() {
  exceptlog::PipelineSteps steps = exceptlog::ModulePipelineSteps();
  char folder[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("CRASH_SAMPLE_REPORT_DIR", folder, sizeof folder);
  steps.reported = [](const exceptlog::PipelineReport& report, exceptlog::PipelineContext&) {
    PrintDeliveryResult(report);
  };
  if (length > 0 && length < sizeof folder) {
    steps.reported = [folder = std::string(folder)](const exceptlog::PipelineReport& report,
                                                    exceptlog::PipelineContext&) {
      PrintDeliveryResult(report);
      static int count = 0;
      char module_path[MAX_PATH] = {};
      HMODULE self = nullptr;
      GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&InstallPipelineSteps), &self);
      GetModuleFileNameA(self, module_path, sizeof module_path);
      std::string name = module_path;
      name = name.substr(name.find_last_of('\\') + 1);
      name = name.substr(0, name.rfind('.'));
      const std::string path = folder + "\\" + name + "-report-" + std::to_string(++count) + ".txt";
      const win::UniqueFileHandle file(
          CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file) return;
      DWORD written = 0;
      WriteFile(file.get(), report.record.ReportText.data(), static_cast<DWORD>(report.record.ReportText.size()),
                &written, nullptr);
      // What the user chose in the dialog, as the pipeline got it.
      const std::string choices = "send=" + std::to_string(report.send_chosen) +
                                  " screenshot=" + std::to_string(report.attach_screenshot) +
                                  " copy=" + std::to_string(report.copy_to_clipboard) +
                                  " terminate=" + std::to_string(report.terminate.requested) + "\r\n";
      const win::UniqueFileHandle choices_file(
          CreateFileA((folder + "\\" + name + "-choices-" + std::to_string(count) + ".txt").c_str(), GENERIC_WRITE, 0,
                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (choices_file) {
        WriteFile(choices_file.get(), choices.data(), static_cast<DWORD>(choices.size()), &written, nullptr);
      }
    };
  }
  exceptlog::SetPipelineSteps(std::move(steps));
}

void StartSubsystem(bool console) {
  exceptlog::StartExceptionLog({GetModuleHandleA(nullptr), false, console});
  InstallPipelineSteps();
  shellext::SetComBoundaryHandler(&ReportSafeCall);
  InstallReportPrinter();
  InstallDeliveryEvents();
  StartBoxAnswerer();
}

bool NoteStartAndSeeRestart() {
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("CRASH_SAMPLE_START_LOG", path, sizeof path);
  if (length == 0 || length >= sizeof path) return false;
  win::UniqueFileHandle log(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!log) return false;
  const bool restarted = GetLastError() == ERROR_ALREADY_EXISTS;
  const std::string line = std::string(GetCommandLineA()) + "\r\n";
  DWORD written = 0;
  WriteFile(log.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  if (restarted) PrintLine("restarted");
  return restarted;
}

bool RaiseFault(const std::string& name, int argument) {
  if (name == "throw") {
    ThrowSampleError();
  } else if (name == "handled") {
    try {
      ThrowSampleError();
    } catch (const ESampleError&) {
      // Application code handles its own error: nothing to report.
    }
  } else if (name == "abort-class") {
    throw EAbort("Operation aborted");
  } else if (name == "av") {
    ReadNull();
  } else if (name == "divzero") {
    DivideByZero();
  } else if (name == "thread") {
    FailingThread thread;
    thread.Start();
    thread.WaitFor();
  } else if (name == "plain-thread") {
    HANDLE thread = CreateThread(nullptr, 0, &FailingRoutine, nullptr, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  } else if (name == "com") {
    FailingPersist object;
    CLSID clsid;
    const HRESULT result = object.GetClassID(&clsid);
    char text[64];
    std::snprintf(text, sizeof text, "com result: %08lX", static_cast<unsigned long>(result));
    PrintLine(text);
  } else if (name == "nested") {
    try {
      ThrowSampleError();
    } catch (const ESampleError&) {
      throw EInvalidOperation("Raised while handling another error.");
    }
  } else if (name == "purecall") {
    auto derived = std::make_unique<Derived>();
  } else if (name == "invalid-parameter") {
    // A secure C runtime function given no buffer calls the invalid
    // parameter handler, then answers EINVAL.
    using ItoaS = int(__cdecl*)(int, char*, std::size_t, int);
    auto itoa_s =
        reinterpret_cast<ItoaS>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("msvcrt.dll"), "_itoa_s")));
    if (itoa_s != nullptr) itoa_s(42, nullptr, 0, 10);
  } else if (name == "abort") {
    std::abort();
  } else if (name == "terminate") {
    ThrowThroughNoexcept();
  } else if (name == "stack-overflow") {
    sink = Recurse(0);
  } else if (name == "freeze") {
    Freeze(argument);
  } else if (name == "throw-wait") {
    // A report whose delivery may go on in a send thread while the program
    // does something else.
    try {
      ThrowSampleError();
    } catch (...) {
      exceptlog::ReportEscapedException(std::current_exception(), exceptlog::rkGeneral);
    }
    PrintLine("reported");
    Sleep(static_cast<DWORD>(argument) * 1000);
    PrintLine("waited");
  } else if (name == "burst") {
    for (int i = 0; i < argument; ++i) {
      try {
        ThrowSampleError();
      } catch (...) {
        exceptlog::ReportEscapedException(std::current_exception(), exceptlog::rkGeneral);
      }
    }
  } else if (name == "dll-fault") {
    HMODULE library = LoadLibraryA("crash_sample_dll.dll");
    if (library == nullptr) throw ESampleError("crash_sample_dll.dll not found");
    auto fault = reinterpret_cast<void(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(library, "FaultInCall")));
    if (fault != nullptr) fault();
  } else {
    return RaiseFreezeFault(name, argument);
  }
  return true;
}

const char* FaultNames() {
  return "throw handled abort-class av divzero thread plain-thread com nested purecall invalid-parameter abort "
         "terminate stack-overflow freeze SECONDS freeze-switch SECONDS throw-wait SECONDS burst N dll-fault";
}

}  // namespace vellum::crash_sample
