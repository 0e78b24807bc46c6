// How a finished report leaves the machine: the files that go with it, the
// mail and the upload the options ask for (each with its events, retries
// and progress dialog), what the user is told, what is kept when delivery
// fails, and the temporary files removed afterwards in every case.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "exceptlog/capture/component/exception_record.h"
#include "exceptlog/capture/manager/pipeline_context.h"
#include "runtime/strings/date_time.h"

namespace vellum::exceptlog {

class TRuzadaModuleOptions;

struct TReportDelivery {
  // The events, the warnings: the pipeline's context, which outlives any
  // delivery (a send thread of its own included).
  PipelineContext* context = nullptr;
  TRuzadaExceptionRecord record;  // handed to the events
  const TRuzadaModuleOptions* options = nullptr;
  std::string report_text;   // the report, for the clipboard and the mailto: form
  std::string text_to_send;  // the report, or the whole log
  std::string html_page;     // empty: no web error page was made
  std::string screenshot;    // the saved screenshot, empty: none to attach
  bool console = false;
  DateTime time;  // the exception's, for time-stamped file names
};

// The files of the delivery as the events left them: full names, the names
// they go under, and the upload's form fields.
struct TDeliveryLists {
  std::vector<std::string> files;
  std::vector<std::string> field_names;
  std::vector<std::string> field_values;
};

// True when everything the options ask for was delivered (nothing asked
// counts as delivered). Raises what a step outside the mail and upload
// raises (archive, XML copy) after removing the temporary files.
bool DeliverReport(const TReportDelivery& delivery);

bool SendByMail(const TReportDelivery& delivery, const TDeliveryLists& lists);
bool SendByWeb(const TReportDelivery& delivery, TDeliveryLists& lists);

// The display names the files go under: time-stamped with sfTimeStampNames.
std::vector<std::string> DeliveryDisplayNames(const TReportDelivery& delivery, const std::vector<std::string>& files);

// Bounds the retries a handler can ask for: a handler that always asks
// would otherwise hold the program in the delivery for good.
inline constexpr int kMaxDeliveryRetries = 10;

}  // namespace vellum::exceptlog
