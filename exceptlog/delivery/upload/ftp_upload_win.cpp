#include <algorithm>
#include <optional>

#include "exceptlog/delivery/upload/upload_result_win.h"
#include "exceptlog/delivery/upload/web_upload_win.h"
#include "exceptlog/delivery/upload/wininet_library_win.h"
#include "runtime/stream.h"

namespace vellum::exceptlog {

namespace {

constexpr char kUserAgent[] = "DeveruVuz";
constexpr std::size_t kBlockSize = 64 * 1024;

std::optional<std::uint64_t> ExistingFileSize(const std::string& file_name) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (file_name.empty() || !GetFileAttributesExA(file_name.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string FileNamePart(const std::string& name) {
  const std::size_t separator = name.find_last_of("\\/:");
  return separator == std::string::npos ? name : name.substr(separator + 1);
}

std::string RemoteName(const std::string& path, const std::string& display_name) {
  std::string remote = path;
  if (!remote.empty() && remote.back() != '/') remote += '/';
  return remote + FileNamePart(display_name);
}

}  // namespace

std::int32_t FTPUpload(const std::string& host, const std::string& path, const std::string& user,
                       const std::string& password, std::uint16_t port, const std::vector<std::string>& files,
                       const std::vector<std::string>& display_names, const TUploadProgress& progress,
                       std::string& response_text) {
  response_text.clear();
  if (files.empty()) return 0;
  return GuardUpload(response_text, [&]() -> std::int32_t {
    const WinInetLibrary wininet;
    if (!wininet.Complete()) return kUploadLibraryMissing;
    std::uint64_t total_size = 0;
    for (const std::string& file : files) total_size += ExistingFileSize(file).value_or(0);
    const auto total = static_cast<std::uint32_t>(std::min<std::uint64_t>(total_size, UINT32_MAX));

    if (progress) progress(0, total, 0);
    const InternetHandle internet(wininet,
                                  wininet.InternetOpen(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) return static_cast<std::int32_t>(GetLastError());
    const InternetHandle connection(
        wininet, wininet.InternetConnect(internet.get(), host.c_str(), port, OptionalText(user), OptionalText(password),
                                         INTERNET_SERVICE_FTP, 0, 0));
    if (!connection) {
      const DWORD error = GetLastError();
      // A refused log-on is explained by the server's reply.
      response_text = wininet.LastResponseText();
      return static_cast<std::int32_t>(error);
    }
    if (progress) progress(1, total, 0);

    std::uint64_t done = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (!ExistingFileSize(files[i])) continue;
      const std::optional<std::string> bytes = ReadWholeFile(files[i]);
      if (!bytes) continue;
      const std::string display_name = i < display_names.size() ? display_names[i] : files[i];
      const std::string remote = RemoteName(path, display_name);
      InternetHandle remote_file(
          wininet, wininet.FtpOpenFile(connection.get(), remote.c_str(), GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0));
      if (!remote_file) {
        const DWORD error = GetLastError();
        response_text = wininet.LastResponseText();
        return static_cast<std::int32_t>(error);
      }
      for (std::size_t offset = 0; offset < bytes->size(); offset += kBlockSize) {
        const auto length = static_cast<DWORD>(std::min(kBlockSize, bytes->size() - offset));
        DWORD written = 0;
        // A store cut short is a failure, not a file on the server that
        // silently lacks its end.
        if (!wininet.InternetWrite(remote_file.get(), bytes->data() + offset, length, &written) || written != length) {
          DWORD error = GetLastError();
          if (error == 0) error = ERROR_INTERNET_CONNECTION_ABORTED;
          response_text = wininet.LastResponseText();
          return static_cast<std::int32_t>(error);
        }
        done += length;
        if (progress) progress(2, total, static_cast<std::uint32_t>(std::min<std::uint64_t>(done, UINT32_MAX)));
      }
      if (!remote_file.Close()) {
        const DWORD error = GetLastError();
        response_text = wininet.LastResponseText();
        return static_cast<std::int32_t>(error);
      }
    }
    return 0;
  });
}

}  // namespace vellum::exceptlog
