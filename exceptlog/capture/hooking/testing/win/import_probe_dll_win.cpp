// A DLL whose import table the import-hook tests change: it starts its
// threads through the CreateThread it imports from kernel32.dll.
#include <windows.h>

namespace {

DWORD WINAPI Worker(void* argument) {
  // width: the argument is a small number, not an address.
  return 7 + static_cast<DWORD>(reinterpret_cast<UINT_PTR>(argument));
}

}  // namespace

extern "C" DWORD __cdecl ProbeRunThread(DWORD argument) {
  // width: a small number travels as the thread's argument.
  void* const number = reinterpret_cast<void*>(static_cast<UINT_PTR>(argument));
  HANDLE thread = CreateThread(nullptr, 0, &Worker, number, 0, nullptr);
  if (thread == nullptr) return 0xFFFFFFFF;
  WaitForSingleObject(thread, INFINITE);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  return code;
}
