// A DLL whose import table the import-hook tests change: it starts its
// threads through the CreateThread it imports from kernel32.dll.
#include <windows.h>

namespace {

DWORD WINAPI Worker(void* argument) {
  return 7 + static_cast<DWORD>(reinterpret_cast<UINT_PTR>(argument));
}

}  // namespace

extern "C" DWORD __cdecl ProbeRunThread(DWORD argument) {
  HANDLE thread =
      CreateThread(nullptr, 0, &Worker, reinterpret_cast<void*>(static_cast<UINT_PTR>(argument)), 0, nullptr);
  if (thread == nullptr) return 0xFFFFFFFF;
  WaitForSingleObject(thread, INFINITE);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  return code;
}
