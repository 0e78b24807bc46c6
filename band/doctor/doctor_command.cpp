#include "band/doctor/doctor_command.h"

#include <cctype>
#include <optional>

namespace vellum::band {

namespace {

constexpr DoctorAction kFixes[] = {DoctorAction::kRegister, DoctorAction::kClearCategoryCache,
                                   DoctorAction::kStartPanel};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// Words split at blanks; a double quote opens and closes a part in which
// blanks belong to the word, as in any Windows command line. An unclosed
// quote runs to the end of the line, as it does there.
std::vector<std::string> SplitWords(std::string_view line) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (true) {
    while (at < line.size() && IsSpace(line[at])) ++at;
    if (at == line.size()) return words;
    std::string word;
    bool quoted = false;
    for (; at < line.size() && (quoted || !IsSpace(line[at])); ++at) {
      if (line[at] == '"') {
        quoted = !quoted;
      } else {
        word += line[at];
      }
    }
    words.push_back(std::move(word));
  }
}

std::optional<DoctorAction> ParseFix(const std::string& word) {
  for (const DoctorAction action : kFixes) {
    if (Lower(word) == FixOptionName(action)) return action;
  }
  return std::nullopt;
}

void NoteError(DoctorCommand& command, std::string error) {
  if (command.usage_error.empty()) command.usage_error = std::move(error);
}

}  // namespace

DoctorCommand ParseDoctorCommand(std::string_view command_line) {
  const std::vector<std::string> words = SplitWords(command_line);
  DoctorCommand command;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string option = Lower(words[i]);
    const bool is_out = option == "/out" || option == "-out";
    if (!is_out && option != "/fix" && option != "-fix") {
      NoteError(command, "Unknown option \"" + words[i] + "\": use /out FILE or /fix register|cache|panel.");
      continue;
    }
    if (i + 1 == words.size() || words[i + 1].empty()) {
      NoteError(command, words[i] + " needs a value.");
      break;
    }
    const std::string& value = words[++i];
    if (is_out) {
      command.out_path = value;
    } else if (const auto fix = ParseFix(value)) {
      command.fix = *fix;
    } else {
      NoteError(command, "Unknown fix \"" + value + "\": use register, cache or panel.");
    }
  }
  return command;
}

const char* FixOptionName(DoctorAction action) {
  switch (action) {
    case DoctorAction::kRegister: return "register";
    case DoctorAction::kClearCategoryCache: return "cache";
    case DoctorAction::kStartPanel: return "panel";
    case DoctorAction::kNone: break;
  }
  return "";
}

std::string DoctorMessage(const std::vector<Finding>& findings, const std::string& rundll,
                          const std::string& dll_path) {
  if (findings.empty()) return FormatFindings(findings);
  std::string text;
  for (const Finding& finding : findings) {
    if (!text.empty()) text += "\r\n";
    text += finding.problem + "\r\n" + finding.fix + "\r\n";
    if (finding.action != DoctorAction::kNone) {
      text += "The doctor does this when you run: \"" + rundll + "\" \"" + dll_path + "\",Doctor /fix " +
              FixOptionName(finding.action) + "\r\n";
    }
  }
  return text;
}

}  // namespace vellum::band
