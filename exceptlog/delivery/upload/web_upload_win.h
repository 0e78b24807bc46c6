// Uploading the report files through WinInet, loaded for each upload: an
// HTTP or HTTPS POST of a multipart/form-data body, or one FTP store per
// file. Nothing raises out of an upload: the result code and the response
// text say what happened.
//
// Result codes: 0 success; kUploadLibraryMissing when wininet.dll or one of
// its entry points is missing; kUnreadableHttpStatus when the status is not
// a number; any HTTP status but 200; otherwise GetLastError of the WinInet
// call that failed. The response text is the HTTP status text, the FTP
// server's last response, or the WinInet error table's text.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vellum::exceptlog {

inline constexpr std::int32_t kUploadLibraryMissing = -1;
inline constexpr std::int32_t kUnreadableHttpStatus = 2147483647;

// Stage 0 before connecting, 1 once connected (done 0 for both), 2 after
// every block written with the bytes done so far.
using TUploadProgress = std::function<void(int stage, std::uint32_t total, std::uint32_t done)>;

// Port 0 leaves the port to WinInet (80 or 443).
std::int32_t HTTPUpload(const std::string& host, const std::string& path, const std::string& user,
                        const std::string& password, std::uint16_t port, bool secure,
                        const std::vector<std::string>& files, const std::vector<std::string>& display_names,
                        const std::vector<std::string>& field_names, const std::vector<std::string>& field_values,
                        const TUploadProgress& progress, std::string& response_text);

// Each existing file goes to path + "/" + the file-name part of its display
// name; the first file the server refuses ends the upload.
std::int32_t FTPUpload(const std::string& host, const std::string& path, const std::string& user,
                       const std::string& password, std::uint16_t port, const std::vector<std::string>& files,
                       const std::vector<std::string>& display_names, const TUploadProgress& progress,
                       std::string& response_text);

}  // namespace vellum::exceptlog
