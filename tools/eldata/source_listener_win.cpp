#include <windows.h>

#include <cstdio>
#include <vector>

#include "exceptlog/report/dialog/source_request.h"
#include "runtime/win/unique_handle_win.h"
#include "tools/eldata/source_listener.h"

namespace vellum::eldata {

int ListenForSourceRequests(int count) {
  const win::UniqueHandle<win::FileHandleTraits> slot(
      CreateMailslotA(exceptlog::kSourceRequestMailslot, 0, MAILSLOT_WAIT_FOREVER, nullptr));
  if (!slot) {
    std::fprintf(stderr, "exlog: cannot create %s (error %lu)\n", exceptlog::kSourceRequestMailslot, GetLastError());
    return 1;
  }
  std::printf("listening on %s\n", exceptlog::kSourceRequestMailslot);
  std::fflush(stdout);
  std::vector<std::uint8_t> buffer(64 * 1024);
  for (int received = 0; count == 0 || received < count;) {
    DWORD read = 0;
    if (!ReadFile(slot.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
      std::fprintf(stderr, "exlog: reading the mailslot failed (error %lu)\n", GetLastError());
      return 1;
    }
    const auto request = exceptlog::DecodeSourceRequest(buffer.data(), read);
    if (!request) {
      std::printf("ignored a message of %lu bytes\n", read);
    } else {
      std::printf("%s\n", exceptlog::SourceRequestText(*request).c_str());
      ++received;
    }
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace vellum::eldata
