#include "exceptlog/capture/callstack/address_resolution.h"

namespace vellum::exceptlog {

void NameFromExport(const std::string& exported_name, TRuzadaDebugInfo& entry) {
  std::optional<ExportedNameParts> parts = ResolveExportedName(exported_name);
  if (!parts) return;
  entry.Kind = parts->Kind;
  entry.UnitName = std::move(parts->UnitName);
  entry.ClassName = std::move(parts->ClassName);
  entry.ProcedureName = std::move(parts->ProcedureName);
}

void ResolveInModule(TRuzadaDebugInfo& entry, std::shared_ptr<const TRuzadaModuleInfo> module,
                     const MemoryReader& memory) {
  entry.Module = std::move(module);
  if (!entry.Module) return;
  const TRuzadaModuleInfo& info = *entry.Module;
  // Code offsets in the stored block are 32-bit: an address further than
  // that from the code's start is in no unit of it.
  const std::uint64_t code_base = info.Handle + kDebugCodeBase;
  const DebugDataIndex* index =
      entry.Address >= code_base && entry.Address - code_base <= UINT32_MAX ? info.DebugIndex() : nullptr;
  if (index != nullptr) {
    const CodeBytesReader code = [&](std::uint32_t code_offset, std::span<std::uint8_t> out) {
      const std::uint64_t at = code_base + code_offset;
      return memory.Read(at, out.data(), static_cast<std::uint32_t>(out.size()));
    };
    if (std::optional<DebugLocation> location =
            index->LookUp(static_cast<std::uint32_t>(entry.Address - code_base), code)) {
      entry.Kind = dkDebugData;
      entry.UnitName = std::move(location->UnitName);
      entry.ClassName = std::move(location->ClassName);
      entry.ProcedureName = std::move(location->ProcedureName);
      entry.Line = location->Line;
      entry.ProcedureLine = location->ProcedureLine;
      return;
    }
  }
  entry.Kind = dkModule;
  if (const TRuzadaFunctionInfo* function = info.Functions.FindByAddress(entry.Address)) {
    NameFromExport(function->Name, entry);
  }
}

}  // namespace vellum::exceptlog
