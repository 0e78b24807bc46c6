// Runs one upload from the command line, for the tests that play the
// servers from outside. Prints every progress call as "progress=S,T,D",
// then "result=<code>" and, last, "response=<text>" (which may span lines).
//   upload_probe http|https|ftp (--host H [--path P] | --address A) [--port N] [--user U] [--password P]
//                [--file FILE --name DISPLAY]... [--field NAME VALUE]... [--repeat N]
//   (with --repeat, each upload's time is printed as "elapsed_ms=", without progress lines)
//   upload_probe ftp-bare ... (the same options): the files stored with WinInet's
//                own calls and nothing else, in the upload's block size, as a
//                floor for what an FTP upload through WinInet can take here
//   upload_probe trust|untrust CERTIFICATE.der   (the machine's root store)
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "exceptlog/delivery/testing/root_store_win.h"
#include "exceptlog/delivery/upload/upload_address.h"
#include "exceptlog/delivery/upload/web_upload_win.h"
#include "exceptlog/delivery/upload/wininet_library_win.h"
#include "runtime/stream.h"

using namespace vellum::exceptlog;

namespace {

constexpr std::size_t kBareBlock = 64 * 1024;

// WinInet alone: what FTPUpload does less everything of its own (progress,
// error texts, reading the file's size): the library loaded, the files
// stored in the upload's block size. 0, or the first failing call's error.
std::int32_t BareFtpStore(const std::string& host, const std::string& path, const std::string& user,
                          const std::string& password, std::uint16_t port, const std::vector<std::string>& files,
                          const std::vector<std::string>& names) {
  const WinInetLibrary wininet;
  if (!wininet.Complete()) return -1;
  const InternetHandle internet(wininet,
                                wininet.InternetOpen("DeveruVuz", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  const InternetHandle connection(
      wininet, internet ? wininet.InternetConnect(internet.get(), host.c_str(), port, user.c_str(), password.c_str(),
                                                  INTERNET_SERVICE_FTP, 0, 0)
                        : nullptr);
  if (!connection) return static_cast<std::int32_t>(GetLastError());
  for (std::size_t i = 0; i < files.size(); ++i) {
    vellum::MemoryStream stream;
    stream.LoadFromFile(files[i]);
    const std::string bytes = stream.ToString();
    const std::string remote = (path.empty() ? std::string() : path + "/") + (i < names.size() ? names[i] : files[i]);
    InternetHandle file(
        wininet, wininet.FtpOpenFile(connection.get(), remote.c_str(), GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0));
    bool written = static_cast<bool>(file);
    for (std::size_t offset = 0; written && offset < bytes.size(); offset += kBareBlock) {
      const auto length = static_cast<DWORD>(std::min(kBareBlock, bytes.size() - offset));
      DWORD done = 0;
      written = wininet.InternetWrite(file.get(), bytes.data() + offset, length, &done) && done == length;
    }
    if (!written || !file.Close()) return static_cast<std::int32_t>(GetLastError());
  }
  return 0;
}

int Upload(const std::string& method, const std::vector<std::string>& args) {
  std::string host, path, user, password;
  std::uint16_t port = 0;
  int repeat = 0;
  std::vector<std::string> files, names, field_names, field_values;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const auto next = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
    const std::string& option = args[i];
    if (option == "--host") {
      host = next();
    } else if (option == "--address") {
      // As the delivery does: host and path from the address, the port,
      // user and password from their own options.
      TUploadAddress parts;
      SplitUploadAddress(next(), parts);
      host = parts.Host;
      path = parts.Path;
    } else if (option == "--port") {
      port = static_cast<std::uint16_t>(std::stoul(next()));
    } else if (option == "--path") {
      path = next();
    } else if (option == "--user") {
      user = next();
    } else if (option == "--password") {
      password = next();
    } else if (option == "--file") {
      files.push_back(next());
    } else if (option == "--name") {
      names.push_back(next());
    } else if (option == "--field") {
      field_names.push_back(next());
      field_values.push_back(next());
    } else if (option == "--repeat") {
      repeat = std::stoi(next());
    } else if (option == "--value") {
      field_values.push_back(next());
    } else {
      std::fprintf(stderr, "unknown option %s\n", option.c_str());
      return 2;
    }
  }
  const TUploadProgress progress = [repeat](int stage, std::uint32_t total, std::uint32_t done) {
    if (repeat == 0) std::printf("progress=%d,%u,%u\n", stage, total, done);
  };
  std::string response;
  std::int32_t result = 0;
  for (int run = 0; run < std::max(repeat, 1); ++run) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (method == "ftp-bare") {
      result = BareFtpStore(host, path, user, password, port, files, names);
    } else if (method == "ftp") {
      result = FTPUpload(host, path, user, password, port, files, names, progress, response);
    } else {
      result = HTTPUpload(host, path, user, password, port, method == "https", files, names, field_names, field_values,
                          progress, response);
    }
    QueryPerformanceCounter(&end);
    if (repeat > 0) {
      std::printf("elapsed_ms=%.3f\n", static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
                                           static_cast<double>(frequency.QuadPart));
    }
  }
  std::printf("result=%d\nresponse=%s\n", static_cast<int>(result), response.c_str());
  return 0;
}

// A test server's self-signed certificate made trusted (or no longer) for
// this Wine prefix, so that the secure upload can also succeed.
int Trust(bool add, const std::string& certificate_file) {
  vellum::MemoryStream stream;
  stream.LoadFromFile(certificate_file);
  const DWORD error = vellum::exceptlog::testing::SetRootTrust(stream.ToString(), add);
  std::printf("result=%lu\n", error);
  return error == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return 2;
  const std::string command = args.front();
  args.erase(args.begin());
  if (command == "http" || command == "https" || command == "ftp" || command == "ftp-bare") {
    return Upload(command, args);
  }
  if ((command == "trust" || command == "untrust") && args.size() == 1) return Trust(command == "trust", args[0]);
  std::fprintf(stderr, "unknown command %s\n", command.c_str());
  return 2;
}
