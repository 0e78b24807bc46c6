// A DLL that carries the two resources of a package, no version resource,
// and no password handler for protected names.
#include <windows.h>

extern "C" int __cdecl PackageProcedure(int value) {
  return value * 3;
}
