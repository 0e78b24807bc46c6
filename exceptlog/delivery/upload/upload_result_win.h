// What both uploads do around their work: nothing raises out of an upload,
// and a failure without words of the server's own gets the WinInet table's.
#pragma once

#include <windows.h>
#include <wininet.h>
#include <winsock2.h>

#include <cstdint>
#include <exception>
#include <new>
#include <string>

#include "exceptlog/delivery/upload/wininet_errors.h"

namespace vellum::exceptlog {

// Wine's WinInet passes socket errors through where Windows answers with
// its own codes; the caller and the table know only the latter.
inline std::int32_t AsWinInetError(std::int32_t code) {
  switch (code) {
    case WSAECONNABORTED: return ERROR_INTERNET_CONNECTION_ABORTED;
    case WSAECONNRESET: return ERROR_INTERNET_CONNECTION_RESET;
    case WSAETIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    case WSAECONNREFUSED:
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH: return ERROR_INTERNET_CANNOT_CONNECT;
    default: return code;
  }
}

template <typename Work>
std::int32_t GuardUpload(std::string& response_text, Work&& work) {
  std::int32_t result = 0;
  try {
    result = work();
  } catch (const std::bad_alloc&) {
    // The form body holds every file in memory.
    result = ERROR_NOT_ENOUGH_MEMORY;
  } catch (const std::exception& failure) {
    result = ERROR_GEN_FAILURE;
    response_text = failure.what();
  } catch (...) {
    result = ERROR_GEN_FAILURE;
  }
  result = AsWinInetError(result);
  if (result != 0 && response_text.empty()) response_text = WinInetErrorText(result);
  return result;
}

}  // namespace vellum::exceptlog
