#include <algorithm>
#include <cstring>
#include <optional>

#include "exceptlog/delivery/upload/form_data.h"
#include "exceptlog/delivery/upload/upload_result_win.h"
#include "exceptlog/delivery/upload/web_upload_win.h"
#include "exceptlog/delivery/upload/wininet_errors.h"
#include "exceptlog/delivery/upload/wininet_library_win.h"

namespace vellum::exceptlog {

namespace {

constexpr char kUserAgent[] = "DeveruVuz";
constexpr DWORD kBlockSize = 64 * 1024;
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                                INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES |
                                INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS |
                                INTERNET_FLAG_NO_UI;

// A header of the answer as text; nothing when WinInet has none.
std::optional<std::string> QueryText(const WinInetLibrary& wininet, HINTERNET request, DWORD query) {
  std::string buffer(10, '\0');
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    if (wininet.HttpQueryInfo(request, query, buffer.data(), &size, nullptr)) {
      buffer.resize(std::min<std::size_t>(std::strlen(buffer.c_str()), size));
      return buffer;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= buffer.size()) return std::nullopt;
    buffer.assign(size, '\0');
  }
}

std::optional<std::int32_t> StatusNumber(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::int32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::int32_t Post(const WinInetLibrary& wininet, const std::string& host, const std::string& path,
                  const std::string& user, const std::string& password, std::uint16_t port, bool secure,
                  const std::string& boundary, const std::string& body, const TUploadProgress& progress,
                  std::string& response_text) {
  const auto total = static_cast<std::uint32_t>(body.size());
  const InternetHandle internet(wininet,
                                wininet.InternetOpen(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!internet) return static_cast<std::int32_t>(GetLastError());
  const InternetHandle connection(
      wininet, wininet.InternetConnect(internet.get(), host.c_str(), port, OptionalText(user), OptionalText(password),
                                       INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return static_cast<std::int32_t>(GetLastError());
  if (progress) progress(1, total, 0);
  // The delivery hands the address's path over without its leading "/",
  // which a request line needs.
  const std::string object = path.empty() || path.front() != '/' ? "/" + path : path;
  // Closed before the connection and the session (declared after them).
  const InternetHandle request(
      wininet, wininet.HttpOpenRequest(connection.get(), "POST", object.c_str(), nullptr, nullptr, nullptr,
                                       kRequestFlags | (secure ? INTERNET_FLAG_SECURE : 0), 0));
  if (!request) return static_cast<std::int32_t>(GetLastError());
  const std::string content_type = "Content-Type: multipart/form-data; boundary=" + boundary;
  if (!wininet.HttpAddRequestHeaders(request.get(), content_type.c_str(), static_cast<DWORD>(-1),
                                     HTTP_ADDREQ_FLAG_ADD)) {
    return static_cast<std::int32_t>(GetLastError());
  }
  INTERNET_BUFFERSA buffers{};
  buffers.dwStructSize = sizeof buffers;
  buffers.dwBufferTotal = total;
  if (!wininet.HttpSendRequestEx(request.get(), &buffers, nullptr, HSR_INITIATE, 0)) {
    return static_cast<std::int32_t>(GetLastError());
  }

  // A write that fails (the server closed the connection) ends the body:
  // a report cut short is never a delivered one, whatever status follows.
  DWORD send_error = 0;
  for (DWORD offset = 0; offset < total; offset += kBlockSize) {
    const DWORD length = std::min(kBlockSize, total - offset);
    DWORD written = 0;
    if (!wininet.InternetWrite(request.get(), body.data() + offset, length, &written) || written != length) {
      send_error = GetLastError();
      if (send_error == 0) send_error = ERROR_INTERNET_CONNECTION_ABORTED;
      break;
    }
    if (progress) progress(2, total, offset + length);
  }
  if (!wininet.HttpEndRequest(request.get(), nullptr, 0, 0) && send_error == 0) send_error = GetLastError();

  const std::optional<std::string> status = QueryText(wininet, request.get(), HTTP_QUERY_STATUS_CODE);
  if (!status) {
    // No answer at all: the failure that cut the exchange says more than a
    // status that was never read.
    const DWORD query_error = GetLastError();
    return static_cast<std::int32_t>(send_error != 0 ? send_error : query_error);
  }
  const std::optional<std::int32_t> number = StatusNumber(*status);
  if (number && *number < 100) {
    // No status line came back (Wine answers "0" then): never a success.
    return static_cast<std::int32_t>(send_error != 0 ? send_error : ERROR_HTTP_INVALID_SERVER_RESPONSE);
  }
  if (!number && send_error != 0) return static_cast<std::int32_t>(send_error);
  std::int32_t result = number ? *number : kUnreadableHttpStatus;
  if (result == 200) {
    result = static_cast<std::int32_t>(send_error);
  } else {
    response_text = QueryText(wininet, request.get(), HTTP_QUERY_STATUS_TEXT).value_or(std::string());
  }
  return result;
}

}  // namespace

std::int32_t HTTPUpload(const std::string& host, const std::string& path, const std::string& user,
                        const std::string& password, std::uint16_t port, bool secure,
                        const std::vector<std::string>& files, const std::vector<std::string>& display_names,
                        const std::vector<std::string>& field_names, const std::vector<std::string>& field_values,
                        const TUploadProgress& progress, std::string& response_text) {
  response_text.clear();
  return GuardUpload(response_text, [&] {
    const WinInetLibrary wininet;
    if (!wininet.Complete()) return kUploadLibraryMissing;
    const std::string boundary = NewFormBoundary();
    const std::string body = BuildFormData(files, display_names, field_names, field_values, boundary);
    if (progress) progress(0, static_cast<std::uint32_t>(body.size()), 0);
    return Post(wininet, host, path, user, password, port, secure, boundary, body, progress, response_text);
  });
}

}  // namespace vellum::exceptlog
