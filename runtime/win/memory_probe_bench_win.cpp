// The readability probe runs for every candidate address while a fault is
// analysed (stack scans test thousands of words), so its cost matters.
#define CATCH_CONFIG_MAIN
#include <catch2/catch.hpp>
#include <vector>

#include "runtime/exception.h"

TEST_CASE("memory readability probe") {
  std::vector<char> heap(1 << 16);
  int local = 0;
  BENCHMARK("readable stack word") {
    return vellum::MemoryIsReadable(&local, sizeof local);
  };
  BENCHMARK("readable 64 KiB heap block") {
    return vellum::MemoryIsReadable(heap.data(), heap.size());
  };
  BENCHMARK("unmapped address") {
    return vellum::MemoryIsReadable(reinterpret_cast<const void*>(0x10000), 4);
  };
  vellum::EAbort candidate("x");
  BENCHMARK("valid exception object check") {
    return vellum::IsValidExceptionObject(&candidate, &vellum::MemoryIsReadable);
  };
}
