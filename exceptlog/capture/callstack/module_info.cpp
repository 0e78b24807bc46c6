#include "exceptlog/capture/callstack/module_info.h"

namespace vellum::exceptlog {

DebugDataView TRuzadaModuleInfo::DebugView() const {
  DebugDataView view;
  view.Data = debug_data_;
  view.BlockVersion = BlockVersion;
  view.PasswordOk = PasswordOk != 0;
  view.Key = Key;
  return view;
}

void TRuzadaModuleInfo::SetDebugDataSource(DebugDataSource source) {
  const std::lock_guard<std::mutex> guard(debug_lock_);
  debug_source_ = std::move(source);
  debug_data_.clear();
  debug_index_.reset();
  debug_loaded_.store(false, std::memory_order_release);
}

void TRuzadaModuleInfo::SetDebugData(std::vector<std::uint8_t> data) {
  SetDebugDataSource([data = std::move(data)]() -> std::optional<std::vector<std::uint8_t>> { return data; });
}

const DebugDataIndex* TRuzadaModuleInfo::DebugIndex() const {
  // Every address a report names asks this: once loaded, no lock.
  if (!debug_loaded_.load(std::memory_order_acquire)) LoadDebugData();
  return debug_index_.get();
}

void TRuzadaModuleInfo::LoadDebugData() const {
  const std::lock_guard<std::mutex> guard(debug_lock_);
  if (debug_loaded_.load(std::memory_order_relaxed)) return;
  std::optional<std::vector<std::uint8_t>> data = debug_source_ ? debug_source_() : std::nullopt;
  if (data && !data->empty()) {
    debug_data_ = std::move(*data);
    debug_index_ = std::make_unique<const DebugDataIndex>(DebugView());
  }
  // What the source held (a compressed block) is not needed again.
  debug_source_ = nullptr;
  debug_loaded_.store(true, std::memory_order_release);
}

bool TRuzadaModuleInfo::DebugDataLoaded() const {
  return debug_loaded_.load(std::memory_order_acquire);
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
