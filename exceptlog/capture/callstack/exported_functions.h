// A module's exported functions, sorted by address, each with an estimate of
// its length: where a module has no debug data, the export whose range holds
// an address names the procedure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "exceptlog/common/binary/memory_reader.h"

namespace vellum::exceptlog {

struct TRuzadaFunctionInfo {
  std::string Name;
  std::uint64_t Address = 0;
  // Bytes before the procedure's return instruction; 1 when unknown.
  std::uint32_t Size = 1;
};

// Owns its records (by value).
class TRuzadaFunctionsList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const TRuzadaFunctionInfo& Items(int index) const { return items_.at(static_cast<std::size_t>(index)); }
  void Add(TRuzadaFunctionInfo info) { items_.push_back(std::move(info)); }
  void Delete(int index) { items_.erase(items_.begin() + index); }
  void Clear() { items_.clear(); }
  void SortByAddress();
  // The function whose range [Address, Address + Size] holds `address`
  // (the list sorted by address), or nullptr.
  const TRuzadaFunctionInfo* FindByAddress(std::uint64_t address) const;

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<TRuzadaFunctionInfo> items_;
};

// The procedure's length estimated from its code, scanning no further than
// `code_end`: one that starts with PUSH EBP (55) ends at the first POP EBP
// (5D) or LEAVE (C9) followed by a return (C2, C3, CA, CB); any other at the
// first return byte. Answers the bytes before that return, or 1 when the
// procedure lies before `code_start` or no end is found.
std::uint32_t EstimateProcedureSize(const MemoryReader& memory, std::uint64_t address, std::uint64_t code_start,
                                    std::uint64_t code_end);

}  // namespace vellum::exceptlog
