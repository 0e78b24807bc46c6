// crash_sample_host.exe: a program without the subsystem that loads
// crash_sample_dll.dll and makes it fault inside a call and inside a window
// message. The library reports both itself; the host lives on.
#include <windows.h>

#include <cstdio>
#include <initializer_list>

int main() {
  HMODULE library = LoadLibraryA("crash_sample_dll.dll");
  if (library == nullptr) {
    std::puts("crash_sample_dll.dll not found");
    return 2;
  }
  for (const char* name : {"FaultInCall", "FaultInWindowMessage"}) {
    auto fault = reinterpret_cast<void(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    if (fault != nullptr) fault();
  }
  FreeLibrary(library);
  std::puts("survived");
  std::fflush(stdout);
  return 0;
}
