#include <cstdio>

#include "tools/eldata/source_listener.h"

namespace vellum::eldata {

int ListenForSourceRequests(int) {
  std::fputs("exlog: listen needs Windows: the requests come through a Windows mailslot\n", stderr);
  return 1;
}

}  // namespace vellum::eldata
