// The 96 texts every caption and message of the exception subsystem is taken
// from. Each options object holds its own copy; the table below gives each
// text's group and name (shown when texts are customized) and its default.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace vellum::exceptlog {

inline constexpr int kCustomizedTextCount = 96;
using TCustomizedTexts = std::array<std::string, kCustomizedTextCount>;

// The index of each text in `TCustomizedTexts` and `GetText`. The numbers are
// the stored order, which blocks written by older builds rely on: never
// renumber, only add at the end.
enum CustomizedText : int {
  // Message box captions.
  kTextInformationCaption = 0,
  kTextQuestionCaption = 1,

  // The exception dialog.
  kTextDialogCaption = 2,
  kTextDialogErrorMessage = 3,
  kTextDialogGeneralCaption = 4,
  kTextDialogGeneralHeader = 5,
  kTextDialogCallStackCaption = 6,
  kTextDialogCallStackHeader = 7,
  kTextDialogModulesCaption = 8,
  kTextDialogModulesHeader = 9,
  kTextDialogCpuCaption = 10,
  kTextDialogCpuHeader = 11,
  kTextDialogCustomDataCaption = 12,
  kTextDialogCustomDataHeader = 13,
  kTextDialogOkButton = 14,
  kTextDialogTerminateButton = 15,
  kTextDialogRestartButton = 16,
  kTextDialogDetailsButton = 17,
  kTextDialogSendOption = 18,
  kTextDialogScreenshotOption = 19,
  kTextDialogCopyOption = 20,
  kTextDialogSupportLink = 21,

  // The report's general section: section headers and field captions.
  kTextLogApplicationHeader = 22,
  kTextLogStartDate = 23,
  kTextLogNameDescription = 24,
  kTextLogVersionNumber = 25,
  kTextLogParameters = 26,
  kTextLogCompilationDate = 27,
  kTextLogExceptionHeader = 28,
  kTextLogExceptionDate = 29,
  kTextLogExceptionAddress = 30,
  kTextLogExceptionModule = 31,
  kTextLogExceptionType = 32,
  kTextLogExceptionMessage = 33,
  kTextLogActiveControlsHeader = 34,
  kTextLogFormClass = 35,
  kTextLogFormText = 36,
  kTextLogControlClass = 37,
  kTextLogControlText = 38,
  kTextLogComputerHeader = 39,
  kTextLogComputerName = 40,
  kTextLogUser = 41,
  kTextLogTotalMemory = 42,
  kTextLogFreeMemory = 43,
  kTextLogTotalDisk = 44,
  kTextLogFreeDisk = 45,
  kTextLogSystemUpTime = 46,
  kTextLogProcessor = 47,
  kTextLogDisplayMode = 48,
  kTextLogOperatingSystemHeader = 49,
  kTextLogOperatingSystemType = 50,
  kTextLogBuildNumber = 51,
  kTextLogUpdate = 52,
  kTextLogLanguage = 53,
  kTextLogNetworkHeader = 54,
  kTextLogIpAddress = 55,
  kTextLogSubmask = 56,
  kTextLogGateway = 57,
  kTextLogDns1 = 58,
  kTextLogDns2 = 59,
  kTextLogDhcp = 60,
  kTextLogCustomInformationHeader = 61,

  // Call stack columns.
  kTextCallStackAddress = 62,
  kTextCallStackModule = 63,
  kTextCallStackUnit = 64,
  kTextCallStackClass = 65,
  kTextCallStackProcedure = 66,
  kTextCallStackLine = 67,

  // Thread headers of the call stack section.
  kTextThreadMain = 68,
  kTextThreadException = 69,
  kTextThreadRunning = 70,
  kTextThreadCalling = 71,
  kTextThreadId = 72,
  kTextThreadPriority = 73,
  kTextThreadClass = 74,

  // The send dialog's caption and progress steps.
  kTextSendCaption = 75,
  kTextSendMessage = 76,
  kTextSendResolving = 77,
  kTextSendConnecting = 78,
  kTextSendConnected = 79,
  kTextSendSending = 80,

  // The reproduce-steps request.
  kTextReproduceCaption = 81,
  kTextReproduceRequest = 82,
  kTextReproduceOkButton = 83,

  // Modules section columns.
  kTextModulesHandle = 84,
  kTextModulesName = 85,
  kTextModulesDescription = 86,
  kTextModulesVersion = 87,
  kTextModulesSize = 88,
  kTextModulesModified = 89,
  kTextModulesPath = 90,

  // CPU section.
  kTextCpuRegisters = 91,
  kTextCpuStack = 92,
  kTextCpuMemoryDump = 93,

  // The message box after sending.
  kTextSendSucceeded = 94,
  kTextSendFailed = 95,
};
static_assert(kTextSendFailed + 1 == kCustomizedTextCount);

struct CustomizedTextInfo {
  std::string_view group;
  std::string_view name;
  std::string_view default_text;
};

// The root "Texts" followed by the ten groups, in the order they are shown.
extern const std::array<std::string_view, 11> kCustomizedTextGroups;

extern const std::array<CustomizedTextInfo, kCustomizedTextCount> kCustomizedTextTable;

TCustomizedTexts DefaultCustomizedTexts();

}  // namespace vellum::exceptlog
