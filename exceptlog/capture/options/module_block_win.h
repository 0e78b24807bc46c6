// The "MODULE" shared block through which a module hands its current options
// to the other modules of the process: first byte 0 = nothing published,
// 1 = the stored form of the options follows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "exceptlog/capture/options/module_options_ex.h"

namespace vellum::exceptlog {

std::string ModuleBlockName(HMODULE module);

// This module's block: made empty when the subsystem starts, replaced on
// every publication, released when it stops (or the module unloads).
void CreateEmptyModuleBlock();
void PublishModuleBlock(const std::vector<std::uint8_t>& image);
void ReleaseModuleBlock();

// The publisher for the options of this module.
TRuzadaModuleOptionsEx::Publisher ModuleBlockPublisher();

// Loads what `module` published over `options` (read as block `version`).
// False when it has no block or published nothing; raises EReadError or
// ESharedBlockError when the block is damaged.
bool LoadPublishedModuleOptions(HMODULE module, TRuzadaModuleOptions& options, std::uint16_t version);

}  // namespace vellum::exceptlog
