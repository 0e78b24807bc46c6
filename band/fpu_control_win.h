// The floating-point control state the band sets while it is loaded, and the
// accessors that read and write it: used by process attach and detach and by
// the tests that load the DLL around other starting values.
#pragma once

namespace vellum::band {

// The x87 control word: 0x133F masks every x87 exception.
inline constexpr unsigned short kBandFpuControlWord = 0x133F;

// A 64-bit process computes floating point with SSE, not the x87 unit, so
// there the SSE control register's masks are what keep the band's arithmetic
// from raising in the host, as the x87 word does in a 32-bit one. The 32-bit
// build leaves this register as it finds it, as it always has.
inline constexpr unsigned kBandSseControl = 0x1F80;
inline constexpr bool kBandSetsSseControl = sizeof(void*) == 8;

inline unsigned short ReadFpuControlWord() {
  unsigned short word = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(word));
  return word;
}

inline void WriteFpuControlWord(unsigned short value) {
  __asm__ __volatile__("fldcw %0" : : "m"(value));
}

// Assembly rather than the SSE intrinsics, which the 32-bit build (compiled
// for processors without SSE) may not call.
inline unsigned ReadSseControl() {
  unsigned value = 0;
  __asm__ __volatile__("stmxcsr %0" : "=m"(value));
  return value;
}

inline void WriteSseControl(unsigned value) {
  __asm__ __volatile__("ldmxcsr %0" : : "m"(value));
}

}  // namespace vellum::band
