#include "exceptlog/delivery/upload/form_data.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <random>
#include <string_view>

#include "runtime/stream.h"
#include "runtime/strings/string_utils.h"

namespace vellum::exceptlog {

namespace {

// HTTP's token characters: what a parameter value may hold without quotes.
bool IsTokenCharacter(char c) {
  if (std::isalnum(static_cast<unsigned char>(c)) != 0) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// A bare token as before, so that servers reading the old unquoted form keep
// working; anything else quoted, with the quote and line breaks escaped the
// way browsers send form names, so a blank, ";" or '"' stays inside it.
std::string ParameterValue(std::string_view text) {
  bool token = !text.empty();
  for (const char c : text) token = token && IsTokenCharacter(c);
  if (token) return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': quoted += "%22"; break;
      case '\r': quoted += "%0D"; break;
      case '\n': quoted += "%0A"; break;
      default: quoted += c;
    }
  }
  quoted += '"';
  return quoted;
}

// A blank name is no file; one that vanished since the report listed it is
// left out.
std::optional<std::string> ReadListedFile(const std::string& file_name) {
  if (Trim(file_name).empty() || !FileExists(file_name)) return std::nullopt;
  return ReadWholeFile(file_name);
}

}  // namespace

std::string NewFormBoundary() {
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<unsigned> number(0, 65534);
  char text[64];
  std::snprintf(text, sizeof text, "---------------------------%04X%04X%04X", number(generator), number(generator),
                number(generator));
  return text;
}

std::string BuildFormData(const std::vector<std::string>& files, const std::vector<std::string>& display_names,
                          const std::vector<std::string>& field_names, const std::vector<std::string>& field_values,
                          const std::string& boundary) {
  std::string body;
  const std::size_t fields = std::min(field_names.size(), field_values.size());
  for (std::size_t i = 0; i < fields; ++i) {
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=" + ParameterValue(field_names[i]) +
            ";\r\n\r\n" + field_values[i] + "\r\n";
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::optional<std::string> bytes = ReadListedFile(files[i]);
    if (!bytes) continue;  // the index stays the file's place in the list
    const std::string display_name = i < display_names.size() ? display_names[i] : std::string();
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=el_upload_file_" + std::to_string(i) +
            "; filename=" + ParameterValue(display_name) + ";\r\nContent-Type: application/octet-stream\r\n\r\n";
    body += *bytes;
    body += "\r\n";
  }
  body += "--" + boundary + "--\r\n";
  return body;
}

}  // namespace vellum::exceptlog
