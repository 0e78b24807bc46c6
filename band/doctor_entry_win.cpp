// The doctor's rundll32 entry ("rundll32 VellumDeskBand.dll,Doctor ..."):
// the DLL's own path and registration handed to the doctor, and nothing
// let through into rundll32, which has no idea what to do with it.
#include <windows.h>

#include "band/doctor/run_doctor_win.h"
#include "band/server_module_win.h"
#include "shellext/registration/module_path_win.h"

extern "C" void CALLBACK Doctor(HWND, HINSTANCE, LPSTR command_line, int) {
  try {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(vellum::shellext::ThisModule(), path, MAX_PATH);
    vellum::band::DoctorModule module;
    module.dll_path.assign(path, length < MAX_PATH ? length : 0);
    module.register_server = vellum::band::ServerRegister;
    vellum::band::RunDoctor(command_line != nullptr ? command_line : "", module);
  } catch (...) {
  }
}
