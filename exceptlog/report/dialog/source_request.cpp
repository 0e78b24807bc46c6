#include "exceptlog/report/dialog/source_request.h"

#include <cstring>

#include "exceptlog/common/binary/little_endian.h"
#include "runtime/strings/date_time.h"

namespace vellum::exceptlog {

namespace {

constexpr std::size_t kUnit = 0, kUnitSize = 2048;
constexpr std::size_t kClass = 2048, kClassSize = 1024;
constexpr std::size_t kProcedure = 3072, kProcedureSize = 1024;
constexpr std::size_t kCompileDate = 4096, kLine = 4104, kOffset = 4108;

void PutText(std::uint8_t* field, std::size_t size, const std::string& text) {
  std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

std::string GetText(const std::uint8_t* field, std::size_t size) {
  const void* end = std::memchr(field, 0, size);
  const std::size_t length = end != nullptr ? static_cast<const std::uint8_t*>(end) - field : size;
  return std::string(reinterpret_cast<const char*>(field), length);
}

}  // namespace

std::array<std::uint8_t, kSourceRequestSize> EncodeSourceRequest(const SourceRequest& request) {
  std::array<std::uint8_t, kSourceRequestSize> bytes{};
  PutText(bytes.data() + kUnit, kUnitSize, request.unit);
  PutText(bytes.data() + kClass, kClassSize, request.class_name);
  PutText(bytes.data() + kProcedure, kProcedureSize, request.procedure);
  std::uint64_t date = 0;
  std::memcpy(&date, &request.compile_date, sizeof date);
  StoreU64(bytes.data() + kCompileDate, date);
  StoreU32(bytes.data() + kLine, static_cast<std::uint32_t>(request.line));
  StoreU32(bytes.data() + kOffset, static_cast<std::uint32_t>(request.offset));
  return bytes;
}

std::optional<SourceRequest> DecodeSourceRequest(const std::uint8_t* bytes, std::size_t size) {
  if (bytes == nullptr || size != kSourceRequestSize) return std::nullopt;
  SourceRequest request;
  request.unit = GetText(bytes + kUnit, kUnitSize);
  request.class_name = GetText(bytes + kClass, kClassSize);
  request.procedure = GetText(bytes + kProcedure, kProcedureSize);
  const std::uint64_t date = LoadU64(bytes + kCompileDate);
  std::memcpy(&request.compile_date, &date, sizeof date);
  request.line = static_cast<std::int32_t>(LoadU32(bytes + kLine));
  request.offset = static_cast<std::int32_t>(LoadU32(bytes + kOffset));
  return request;
}

std::string SourceRequestText(const SourceRequest& request) {
  std::string text = request.unit + ": ";
  if (!request.class_name.empty()) text += request.class_name + ".";
  text += request.procedure + " line " + std::to_string(request.line);
  if (request.offset >= 0) text += " [+" + std::to_string(request.offset) + "]";
  if (request.compile_date != 0) {
    text += " (compiled " + FormatDateTime("yyyy-mm-dd hh:nn:ss", SerialToDateTime(request.compile_date)) + ")";
  }
  return text;
}

}  // namespace vellum::exceptlog
