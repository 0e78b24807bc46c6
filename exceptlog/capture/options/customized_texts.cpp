#include "exceptlog/capture/options/customized_texts.h"

namespace vellum::exceptlog {

namespace {

constexpr std::string_view kCaptions = "Message captions";
constexpr std::string_view kDialog = "Exception Dialog";
constexpr std::string_view kSend = "Send Dialog";
constexpr std::string_view kReproduce = "Reproduce Dialog";
constexpr std::string_view kLog = "Log";
constexpr std::string_view kCallStack = "Call Stack";
constexpr std::string_view kThreads = "Threads Data";
constexpr std::string_view kModules = "Modules List";
constexpr std::string_view kCpu = "CPU";
constexpr std::string_view kSendMessages = "Send messages";

// A text whose default wording is its name.
constexpr CustomizedTextInfo Named(std::string_view group, std::string_view name) {
  return {group, name, name};
}

}  // namespace

const std::array<std::string_view, 11> kCustomizedTextGroups = {
    "Texts", kCaptions, kDialog, kSend, kReproduce, kLog, kCallStack, kThreads, kModules, kCpu, kSendMessages,
};

const std::array<CustomizedTextInfo, kCustomizedTextCount> kCustomizedTextTable = {{
    {kCaptions, "Information", "Information."},  // 0
    {kCaptions, "Question", "Question."},
    {kDialog, "Caption", "Error."},
    {kDialog, "Error message",
     "An error has occurred during program execution.\r\nPlease read the following information for further details."},
    {kDialog, "General Caption", "General"},
    {kDialog, "General Header", "General Information"},
    {kDialog, "Call Stack Caption", "Call Stack"},
    {kDialog, "Call Stack Header", "Call Stack Information"},
    {kDialog, "Modules List Caption", "Modules"},
    {kDialog, "Modules List Header", "Modules Information"},
    {kDialog, "CPU Caption", "CPU"},  // 10
    {kDialog, "CPU Header", "CPU Information"},
    {kDialog, "Custom Data Caption", "Other"},
    {kDialog, "Custom Data Header", "Other Information"},
    {kDialog, "OK Button", "&OK"},
    {kDialog, "Terminate Button", "&Terminate"},
    {kDialog, "Restart Button", "&Restart"},
    {kDialog, "Details Button", "&Details"},
    {kDialog, "Email message", "&Send this error via Internet"},
    {kDialog, "Screenshot message", "&Attach a Screenshot image"},
    {kDialog, "Copy message", "&Copy to Clipboard"},  // 20
    {kDialog, "Support message", "Go to the Support Page"},
    {kLog, "Application Header", "Application"},
    Named(kLog, "Start Date"),
    Named(kLog, "Name/Description"),
    Named(kLog, "Version Number"),
    Named(kLog, "Parameters"),
    Named(kLog, "Compilation Date"),
    {kLog, "Exception Header", "Exception"},
    Named(kLog, "Date"),
    Named(kLog, "Address"),  // 30
    Named(kLog, "Module"),
    Named(kLog, "Type"),
    Named(kLog, "Message"),
    {kLog, "Active Controls Header", "Active Controls"},
    Named(kLog, "Form Class"),
    Named(kLog, "Form Text"),
    Named(kLog, "Control Class"),
    Named(kLog, "Control Text"),
    {kLog, "Computer Header", "Computer"},
    Named(kLog, "Name"),  // 40
    Named(kLog, "User"),
    Named(kLog, "Total Memory"),
    Named(kLog, "Free Memory"),
    Named(kLog, "Total Disk"),
    Named(kLog, "Free Disk"),
    Named(kLog, "System Up Time"),
    Named(kLog, "Processor"),
    Named(kLog, "Display Mode"),
    {kLog, "Operating System Header", "Operating System"},
    Named(kLog, "Type"),  // 50
    Named(kLog, "Build #"),
    Named(kLog, "Update"),
    Named(kLog, "Language"),
    {kLog, "Netword", "Network"},
    Named(kLog, "IP Address"),
    Named(kLog, "Submask"),
    Named(kLog, "Gateway"),
    Named(kLog, "DNS 1"),
    Named(kLog, "DNS 2"),
    Named(kLog, "DHCP"),  // 60
    {kLog, "Custom Information Header", "Custom Information"},
    Named(kCallStack, "Address"),
    Named(kCallStack, "Module"),
    Named(kCallStack, "Unit"),
    Named(kCallStack, "Class"),
    Named(kCallStack, "Procedure/Method"),
    Named(kCallStack, "Line"),
    {kThreads, "Main Thread", "Main"},
    Named(kThreads, "Exception Thread"),
    Named(kThreads, "Running Thread"),  // 70
    Named(kThreads, "Calling Thread"),
    {kThreads, "Thread ID", "ID"},
    {kThreads, "Thread Priority", "Priority"},
    {kThreads, "Thread Class", "Class"},
    {kSend, "Caption", "Send."},
    Named(kSend, "Message"),
    {kSend, "Resolving message", "Resolving DNS..."},
    {kSend, "Connecting message", "Connecting with server..."},
    {kSend, "Connected message", "Connected with server."},
    {kSend, "Sending message", "Sending message..."},  // 80
    {kReproduce, "Caption", "Request"},
    {kReproduce, "Request message", "Please describe the steps to reproduce the error:"},
    {kReproduce, "OK Button", "&OK"},
    Named(kModules, "Handle"),
    Named(kModules, "Name"),
    Named(kModules, "Description"),
    Named(kModules, "Version"),
    Named(kModules, "Size"),
    {kModules, "Last Modified", "Modified"},
    Named(kModules, "Path"),  // 90
    Named(kCpu, "Registers"),
    Named(kCpu, "Stack"),
    Named(kCpu, "Memory Dump"),
    {kSendMessages, "Success", "The message was sent successfully."},
    {kSendMessages, "Failure", "Sorry, sending the message didn't work."},
}};

TCustomizedTexts DefaultCustomizedTexts() {
  TCustomizedTexts texts;
  for (int i = 0; i < kCustomizedTextCount; ++i) texts[i] = std::string(kCustomizedTextTable[i].default_text);
  return texts;
}

}  // namespace vellum::exceptlog
