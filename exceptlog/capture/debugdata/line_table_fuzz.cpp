// Any bytes as debug data of every layout (scrambled, ciphered with and
// without the password, chained names): the linear lookup and the index must
// agree, and neither may fail.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "exceptlog/capture/debugdata/debug_data_index.h"
#include "exceptlog/common/binary/little_endian.h"
#include "exceptlog/common/codec/block_cipher.h"

using namespace vellum::exceptlog;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  const std::uint16_t versions[] = {400, 422, 449, 500, 502, 504};
  const std::uint16_t version = versions[data[0] % 6];
  const bool password_ok = (data[0] & 0x80) != 0;
  const std::uint32_t offset = LoadU32(data + 1);
  const std::span<const std::uint8_t> table(data + 5, size - 5);
  const auto code = [table](std::uint32_t at, std::span<std::uint8_t> out) {
    if (at > table.size() || out.size() > table.size() - at) return false;
    std::copy_n(table.begin() + at, out.size(), out.begin());
    return true;
  };
  const DebugDataView view{table, version, password_ok, BlockCipher("fuzz").Key()};
  const auto linear = LookUpDebugData(view, offset, code);
  const DebugDataIndex index(view);
  const auto indexed = index.LookUp(offset, code);
  if (indexed.has_value() != linear.has_value()) __builtin_trap();
  if (linear && indexed &&
      (linear->Line != indexed->Line || linear->ProcedureName != indexed->ProcedureName ||
       linear->UnitName != indexed->UnitName)) {
    __builtin_trap();
  }
  return 0;
}
