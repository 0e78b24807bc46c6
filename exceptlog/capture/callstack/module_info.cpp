#include "exceptlog/capture/callstack/module_info.h"

namespace vellum::exceptlog {

DebugDataView TRuzadaModuleInfo::DebugView() const {
  DebugDataView view;
  if (DebugData) view.Data = std::span<const std::uint8_t>(DebugData->Memory(), DebugData->Bytes().size());
  view.BlockVersion = BlockVersion;
  view.PasswordOk = PasswordOk != 0;
  view.Key = Key;
  return view;
}

void TRuzadaModuleInfo::IndexDebugData() {
  DebugIndex.reset();
  if (DebugData && !DebugData->Bytes().empty()) DebugIndex = std::make_unique<const DebugDataIndex>(DebugView());
}

std::string ModuleFileNameWithoutPrefix(const std::string& path) {
  const std::size_t question = path.find('?');
  if (question == std::string::npos) return path;
  const std::size_t colon = path.find(':', question + 1);
  if (colon == std::string::npos) return path;
  return path.substr(colon - 1);
}

std::string FormatFileVersion(std::uint32_t most_significant, std::uint32_t least_significant) {
  if (most_significant == 0 && least_significant == 0) return {};
  return std::to_string(most_significant >> 16) + "." + std::to_string(most_significant & 0xFFFF) + "." +
         std::to_string(least_significant >> 16) + "." + std::to_string(least_significant & 0xFFFF);
}

}  // namespace vellum::exceptlog
