// A DLL whose code the call-stack tests walk through. The call chain and the
// import-thunk call are written in assembly, so that their call encodings
// and call sites are known to the byte: ChainOuter calls ChainMiddle, which
// calls ChainInner, which calls the test's callback through a register.
// The chain's frames start with the classic prologue "55 8B EC" (the
// assembler would pick "89 E5" for the same move), which the line tables'
// count of lines within a procedure looks for.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "exceptlog/capture/options/module_block_win.h"
#include "exceptlog/capture/options/module_identity.h"
#include "exceptlog/capture/options/module_options_ex.h"

asm(R"(
  .text
  .intel_syntax noprefix

  .p2align 4, 0xCC
  .globl _ChainOuter
_ChainOuter:
  .byte 0x55, 0x8B, 0xEC
  push dword ptr [ebp + 8]
  call _ChainMiddle
  add esp, 4
  pop ebp
  ret

  .p2align 4, 0xCC
  .globl _ChainMiddle
_ChainMiddle:
  .byte 0x55, 0x8B, 0xEC
  push dword ptr [ebp + 8]
  call _ChainInner
  add esp, 4
  pop ebp
  ret

  .p2align 4, 0xCC
  .globl _ChainInner
_ChainInner:
  .byte 0x55, 0x8B, 0xEC
  mov eax, [ebp + 8]
  call eax
  pop ebp
  ret

  .p2align 4, 0xCC
  .globl _ThunkCaller
_ThunkCaller:
  push 0
  call _Sleep@4
  ret

  .p2align 4, 0xCC
  .globl _MangledProcedure
_MangledProcedure:
  push ebp
  mov ebp, esp
  mov eax, 7
  pop ebp
  ret

  .att_syntax
)");

// The password the probe hands out for its protected names.
extern "C" void WINAPI DeveruVuz_PasswordRequestEvent(unsigned char* buffer, DWORD capacity) {
  static const char kPassword[] = "probe-secret";
  const std::size_t length = std::min<std::size_t>(sizeof kPassword - 1, capacity);
  buffer[0] = static_cast<unsigned char>(length);
  std::memcpy(buffer + 1, kPassword, length);
}

// Publishes options of this module with `smtp_server` set, as a module of
// the process whose subsystem runs does.
extern "C" BOOL __cdecl ProbePublishOptions(const char* smtp_server) {
  try {
    vellum::exceptlog::TRuzadaModuleOptionsEx options(vellum::exceptlog::ThisModuleFileName(), true,
                                                      vellum::exceptlog::ModuleBlockPublisher());
    options.SetSmtpServer(smtp_server);
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

extern "C" void __cdecl ProbeWithdrawOptions() {
  vellum::exceptlog::ReleaseModuleBlock();
}
