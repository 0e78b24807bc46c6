#include "exceptlog/delivery/send/send_rules.h"

#include <algorithm>
#include <cctype>

namespace vellum::exceptlog {
namespace {

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::vector<std::string> SplitExtraFiles(std::string_view extra_files) {
  std::vector<std::string> files;
  while (true) {
    const std::size_t end = extra_files.find(';');
    const std::string_view entry = Trimmed(extra_files.substr(0, end));
    if (!entry.empty()) files.emplace_back(entry);
    if (end == std::string_view::npos) break;
    extra_files.remove_prefix(end + 1);
  }
  return files;
}

std::string WithReportEnding(std::string text) {
  constexpr std::string_view kEnding = "\r\n\r\n\r\n";
  if (text.size() < kEnding.size() || std::string_view(text).substr(text.size() - kEnding.size()) != kEnding) {
    text += kEnding;
  }
  return text;
}

std::string SendStatusText(std::string_view message_word, int current, int total, std::string_view text) {
  std::string line(message_word);
  line += ' ' + std::to_string(current) + '/' + std::to_string(total) + ": ";
  line += text;
  return line;
}

std::string WebDeliveryErrorMessage(std::string_view protocol, std::int32_t code, std::string_view response_text) {
  std::string message(protocol);
  message += " error code: " + std::to_string(code);
  if (code == -1) {
    message += " - Cannot find the \"wininet.dll\" library.";
  } else if (!response_text.empty()) {
    message += " (";
    message += response_text;
    message += ')';
  }
  return message;
}

std::string FreeArchiveName(const std::string& wanted, const std::vector<std::string>& existing) {
  const auto taken = [&](const std::string& name) {
    return std::any_of(existing.begin(), existing.end(), [&](const std::string& other) {
      return std::equal(name.begin(), name.end(), other.begin(), other.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
      });
    });
  };
  if (!taken(wanted)) return wanted;
  const std::size_t dot = wanted.rfind('.');
  const std::string stem = dot == std::string::npos ? wanted : wanted.substr(0, dot);
  const std::string extension = dot == std::string::npos ? std::string() : wanted.substr(dot);
  for (std::size_t counter = 2;; ++counter) {
    std::string candidate = stem + '_' + std::to_string(counter) + extension;
    if (!taken(candidate)) return candidate;
  }
}

std::vector<std::string> ArchivesBeyondLimit(std::vector<KeptArchive> archives, std::size_t keep) {
  std::vector<std::string> beyond;
  if (archives.size() <= keep) return beyond;
  std::sort(archives.begin(), archives.end(), [](const KeptArchive& a, const KeptArchive& b) {
    return a.write_time != b.write_time ? a.write_time < b.write_time : a.name < b.name;
  });
  for (std::size_t i = 0; i + keep < archives.size(); ++i) beyond.push_back(archives[i].name);
  return beyond;
}

}  // namespace vellum::exceptlog
