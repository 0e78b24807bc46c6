// The registry entries of a taskbar desk band: the COM class with its
// in-process server, the desk band category, and the shell's approval.
// The band components call these from their RegisterServer and
// UnregisterServer.
#pragma once

#include <string>

#include "runtime/exception.h"
#include "shellext/registration/registration_win.h"

namespace vellum::shellext {

// A class identifier that is not a GUID in braces: its key path would name
// some other key (an empty one names "CLSID" itself, whose tree removal would
// take every class of the system with it).
VELLUM_EXCEPTION_CLASS(ERegistrationError, Exception);

// The component category that marks a class as a desk band.
inline constexpr char kCatIdDeskBand[] = "{00021492-0000-0000-C000-000000000046}";
inline constexpr char kApprovedExtensionsKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved\\";

// The class key, its default value (the menu text), the description and the
// in-process server with apartment threading: what every band kind writes.
void RegisterBandObject(const DUduzBaseRegistration& registration, const std::string& menu_text,
                        const std::string& module_path);

// Everything a desk band writes, unless the registration says it is not
// entered in the registry. Steps that cannot be written are skipped. Both
// this and UnregisterDeskBand raise ERegistrationError, before touching the
// registry, for a class identifier that is not a GUID.
void RegisterDeskBand(const DUduzBaseRegistration& registration, const std::string& menu_text);

// Removes all the desk band's entries, whatever RegisterInRegistry says, and
// everything other tools added below its class key.
void UnregisterDeskBand(const DUduzBaseRegistration& registration);

}  // namespace vellum::shellext
