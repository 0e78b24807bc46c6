#include "exceptlog/delivery/send/send_steps_win.h"

#include <windows.h>

#include <memory>

#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/delivery/screenshot/win/screenshot_win.h"
#include "exceptlog/delivery/send/clipboard_text_win.h"
#include "exceptlog/delivery/send/deliver_report_win.h"
#include "runtime/threading/thread_win.h"

namespace vellum::exceptlog {
namespace {

void RemoveScreenshotFile(const std::string& name) {
  if (!name.empty()) DeleteFileA(name.c_str());
}

// Delivers one report after the pipeline has let go of it: with its own
// copy of everything, as the next report may change the current options
// and the record. Frees itself when done.
class TSendThread final : public Thread {
 public:
  TSendThread(const TReportDelivery& delivery, const TRuzadaModuleOptions& options, const TerminateRequest& terminate)
      : options_(options.ModuleFileName(), false), delivery_(delivery), terminate_(terminate) {
    options_.Assign(&options);
    delivery_.options = &options_;
    delivery_.record.Options = &options_;
    // The pipeline frees the call stack when it ends.
    delivery_.record.StackEntries = nullptr;
    SetPriority(tpHighest);
  }

 protected:
  void Execute() override {
    PipelineContext& context = *delivery_.context;
    context.RunUnderPipelineLock([&] {
      try {
        DeliverReport(delivery_);
      } catch (...) {
        context.ReportSendThreadFailure(std::current_exception(), delivery_.record.RaiseAddress);
      }
      RemoveScreenshotFile(delivery_.screenshot);
      context.RunPostSendSteps(delivery_.record, terminate_);
    });
  }

 private:
  TRuzadaModuleOptions options_;
  TReportDelivery delivery_;
  const TerminateRequest terminate_;  // what the dialog asked, for the post-send steps
};

}  // namespace

void SendReport(PipelineReport& report, PipelineContext& context) {
  const TRuzadaModuleOptions& options = *report.record.Options;
  TReportDelivery delivery;
  delivery.context = &context;
  delivery.record = report.record;
  delivery.options = &options;
  delivery.report_text = report.record.ReportText;
  delivery.text_to_send = report.text_to_send.empty() ? report.record.ReportText : report.text_to_send;
  delivery.html_page = report.last_html_page;
  delivery.screenshot = report.attach_screenshot ? ScreenshotFileName(options) : std::string();
  delivery.console = report.console;
  delivery.time = report.pipeline_start;
  if (options.SendFlags().Contains(sfBackgroundThread)) {
    auto thread = std::make_unique<TSendThread>(delivery, options, report.terminate);
    thread->SetFreeOnTerminate(true);
    thread->Start();
    thread.release();  // the thread deletes itself when done
    report.post_send_in_thread = true;
    return;
  }
  try {
    report.delivered = DeliverReport(delivery);
  } catch (...) {
    RemoveScreenshotFile(delivery.screenshot);
    throw;
  }
  RemoveScreenshotFile(delivery.screenshot);
}

void AddSendSteps(PipelineSteps& steps) {
  steps.send = &SendReport;
  steps.copy_to_clipboard = [](const PipelineReport& report, PipelineContext&) {
    CopyTextToClipboard(report.record.ReportText);
  };
}

}  // namespace vellum::exceptlog
