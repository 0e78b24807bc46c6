// The DLL as the shell sees it: the four COM entry points, the one-time
// initialisation that builds the data module on first use, and the process
// attach and detach actions. Every entry point catches everything.
#pragma once

#include <objbase.h>

namespace vellum::band {

HRESULT ServerGetClassObject(REFCLSID clsid, REFIID riid, void** object);
HRESULT ServerCanUnloadNow();
HRESULT ServerRegister();
HRESULT ServerUnregister();

// Process attach: saves the floating-point control word and sets 0x133F.
void ProcessAttach();
// Process detach: restores the control word; frees what initialisation built.
void ProcessDetach();

// The x87 control word, for the attach and detach actions and their tests.
unsigned short ReadFpuControlWord();
void WriteFpuControlWord(unsigned short value);
inline constexpr unsigned short kBandFpuControlWord = 0x133F;

// Whether the one-time initialisation has run (tests).
bool ServerInitialised();

}  // namespace vellum::band
