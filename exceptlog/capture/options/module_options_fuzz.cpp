// Stored option blocks come from module files and shared memory that may be
// damaged: any bytes at any block version must load or raise EReadError, and
// whatever loads must save and load back to the same stored form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "exceptlog/capture/options/module_options.h"

using vellum::exceptlog::TRuzadaModuleOptions;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // Every layout boundary lies between 400 and 504.
  const auto version = static_cast<std::uint16_t>(380 + (data[0] | data[1] << 8) % 140);
  TRuzadaModuleOptions options("", false);
  vellum::MemoryStream stream(std::vector<std::uint8_t>(data + 2, data + size));
  try {
    options.LoadFromStream(stream, version);
  } catch (const vellum::EReadError&) {
    if (options.UpdateCount() != 0) std::abort();
    return 0;
  }
  // What was loaded saves to a fixed point: loading and saving it again
  // gives the same bytes.
  vellum::MemoryStream saved;
  options.SaveToStream(saved);
  saved.SetPosition(0);
  TRuzadaModuleOptions copy("", false);
  copy.LoadFromStream(saved);
  vellum::MemoryStream saved_again;
  copy.SaveToStream(saved_again);
  if (saved_again.Bytes() != saved.Bytes()) std::abort();
  return 0;
}
