// The rules of a delivery that need no window or socket: which files go, the
// texts the user and the developer see about it, and which kept archives a
// failed delivery leaves behind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::exceptlog {

// The entries of the ExtraFiles option: split at ";", trimmed, without
// empty entries.
std::vector<std::string> SplitExtraFiles(std::string_view extra_files);

// A report text as a log file holds it: ending in three line breaks.
std::string WithReportEnding(std::string text);

// "Message 2/3: <text>" as the send dialog's status line shows it.
std::string SendStatusText(std::string_view message_word, int current, int total, std::string_view text);

// The upload's result code as the delivery error names it:
// "HTTP error code: 12029 (The attempt to connect to the server failed.)",
// with the library's name instead of a server text for a missing library.
std::string WebDeliveryErrorMessage(std::string_view protocol, std::int32_t code, std::string_view response_text);

// A kept archive in the log folder.
struct KeptArchive {
  std::string name;         // file-name part
  std::int64_t write_time;  // any monotonic measure of the last write
};

// The name a new kept archive gets: `wanted` unless a file of that name is
// kept already; then "<stem>_2<ext>", "<stem>_3<ext>"... the first free one,
// so that no earlier unsent report is overwritten.
std::string FreeArchiveName(const std::string& wanted, const std::vector<std::string>& existing);

// The archives to delete so that at most `keep` stay: the oldest, by last
// write and then by name (time-stamped names sort by age anyway; counted
// names do not once they reach two digits).
std::vector<std::string> ArchivesBeyondLimit(std::vector<KeptArchive> archives, std::size_t keep);

inline constexpr std::size_t kKeptArchiveLimit = 10;
inline constexpr char kArchiveName[] = "CompressFiles.tgz";
inline constexpr char kLastHtmlPageName[] = "LastHTMLPage.html";

}  // namespace vellum::exceptlog
