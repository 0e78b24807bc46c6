#include "band/testing/command_line.h"

#include <limits>

namespace vellum::band::testing {

const char kUsageText[] =
    "usage: vellum_standin [--log FILE] [--class NAME] [--timeout-ms N] [--stop-event NAME]\n"
    "                      [--answer-registry] [--dock]\n";

namespace {

// Window classes are limited to 256 characters by RegisterClass.
constexpr std::size_t kMaxClassName = 255;

std::optional<std::uint64_t> ParseDigits(std::string_view digits, std::uint64_t limit) {
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > limit) return std::nullopt;
  return value;
}

}  // namespace

StandinOptions ParseCommandLine(const std::vector<std::string>& arguments) {
  StandinOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& name = arguments[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= arguments.size()) throw EStandinUsage(name + " needs a value");
      return arguments[++i];
    };
    if (name == "--log") {
      options.log_path = value();
    } else if (name == "--class") {
      options.class_name = value();
      if (options.class_name.empty() || options.class_name.size() > kMaxClassName) {
        throw EStandinUsage("--class needs a name of 1 to 255 characters");
      }
    } else if (name == "--timeout-ms") {
      const std::string& text = value();
      auto parsed = ParseDigits(text, std::numeric_limits<std::uint32_t>::max() - 1);
      if (!parsed || *parsed == 0) throw EStandinUsage("--timeout-ms needs a positive number, not '" + text + "'");
      options.timeout_ms = static_cast<std::uint32_t>(*parsed);
    } else if (name == "--stop-event") {
      options.stop_event = value();
      if (options.stop_event.empty()) throw EStandinUsage("--stop-event needs a name");
    } else if (name == "--answer-registry") {
      options.answer_registry = true;
    } else if (name == "--dock") {
      options.dock = true;
    } else {
      throw EStandinUsage("unknown argument '" + name + "'");
    }
  }
  return options;
}

std::optional<std::uint32_t> ParseHandleText(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  const std::uint64_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
  auto magnitude = ParseDigits(text, limit);
  if (!magnitude) return std::nullopt;
  const std::uint64_t bits = negative ? (0x100000000ull - *magnitude) : *magnitude;
  return static_cast<std::uint32_t>(bits & 0xFFFFFFFFu);
}

std::string FormatHandleText(std::uint32_t handle) {
  return std::to_string(static_cast<std::int32_t>(handle));
}

}  // namespace vellum::band::testing
