// Copies of the probe DLLs in a temporary folder, so that tests can change a
// module's file (its time, an appended stored block, a resource) and load
// the result as a module of its own.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog::testing {

inline std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

// A folder of its own under the system's temporary folder, removed with
// what is in it.
class TempFolder {
 public:
  TempFolder() {
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    path_ = std::string(base) + "callstack_test_" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(next_++) + "\\";
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempFolder() {
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((path_ + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        DeleteFileA((path_ + found.cFileName).c_str());
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
    RemoveDirectoryA(path_.c_str());
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  static inline int next_ = 0;
  std::string path_;
};

// Copies `dll` (a file beside the test program) to `folder` as `name`.
inline std::string CopyModule(const std::string& dll, const TempFolder& folder, const std::string& name) {
  const std::string target = folder.Path() + name;
  EXPECT_TRUE(CopyFileA((ProgramFolder() + dll).c_str(), target.c_str(), FALSE)) << dll;
  return target;
}

inline void AppendToFile(const std::string& file, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::app);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::uint64_t AddressOf(const void* pointer) {
  return reinterpret_cast<std::uintptr_t>(pointer);
}

inline std::uint64_t ExportAddress(HMODULE module, const char* name) {
  return AddressOf(reinterpret_cast<const void*>(GetProcAddress(module, name)));
}

}  // namespace vellum::exceptlog::testing
