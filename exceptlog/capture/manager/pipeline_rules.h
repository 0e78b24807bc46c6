// The decisions of the report pipeline that depend on nothing but their
// inputs: which filter an exception falls under, the burst check, which
// messages the waiting main thread drops, whether a report is sent.
#pragma once

#include <cstdint>
#include <deque>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::exceptlog {

// Where the pipeline is; an internal error names it as its section.
enum TPipelineProgress : std::uint16_t {
  ppStarting = 1,
  ppDropChangedModules = 2,
  ppModuleByAddress = 101,
  ppModuleByHandle = 102,
  ppHostModule = 103,
  ppOptions = 104,
  ppFilter = 2 * 100 + 1,
  ppParameters = 3,
  ppCallStacks = 4,
  ppHandled = 6,
  ppRecord = 7,
  ppRecordFilled = 701,
  ppReportText = 702,
  ppPublished = 703,
  ppDuplicates = 704,
  ppLastError = 705,
  ppScreenshot = 706,
  ppReporting = 8,
  ppCounting = 9,
  ppMessageText = 10,
  ppDisplay = 11,
  ppShowing = 12,
  ppShow = 13,
  ppShowed = 14,
  ppLog = 15,
  ppSend = 16,
  ppFreeStack = 17,
  ppTerminate = 18,
};

// The class of a thrown object and its ancestors, most derived first; for
// something that is not one of the system's exceptions, the best name there
// is ("EOutOfMemory" for an allocation failure, "Exception" otherwise).
std::vector<std::string> ExceptionClassChain(const std::exception_ptr& error);
std::string ExceptionMessage(const std::exception_ptr& error);
// The thrown object itself when it is a std::exception, else nullptr.
const std::exception* AsStdException(const std::exception_ptr& error);

// The index of the first filter entry naming the class or one of its
// ancestors (entries trimmed, compared without case), or -1.
int FindFilter(const std::vector<std::string>& class_chain, const std::vector<std::string>& filter_class_names);

// The time stamps of the last reports, at most `capacity` of them.
class BurstList {
 public:
  // Appends `minute_stamp` (minutes since any fixed point) and drops the
  // oldest entries beyond `capacity`.
  void Append(double minute_stamp, int capacity);
  // True when the list holds exactly `count` entries and the newest is at
  // most `minutes` after the oldest.
  bool IsBurst(int count, int minutes) const;
  std::size_t Size() const { return stamps_.size(); }

 private:
  std::deque<double> stamps_;
};

// What the raising main thread does with a message it finds while it waits
// for the report: user input is not for a program in the middle of a
// report, and a quit message would end the wait too early.
enum class WaitingMessage { kDispatch, kDropWithBeep, kDropSilently };
WaitingMessage ClassifyWaitingMessage(std::uint32_t message);
inline constexpr int kMessagesPerWait = 11;
inline constexpr int kWaitStepMilliseconds = 10;

struct SendDecision {
  bool send_possible = false;         // MailMethod or UploadMethod set
  bool duplicate = false;             // the log already holds this report
  bool dialog_shown = false;          // dfShowDialog applied
  bool user_kept_send_choice = true;  // the dialog's send check box
};
bool SendingWillHappen(const SendDecision& decision);

}  // namespace vellum::exceptlog
