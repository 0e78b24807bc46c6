#include "exceptlog/capture/debugdata/stored_block_writer.h"

#include <algorithm>

#include "exceptlog/common/binary/little_endian.h"
#include "exceptlog/common/zlib/zlib_buffer.h"

namespace vellum::exceptlog {
namespace {

constexpr std::uint16_t kFirstCompressedVersion = 450;

std::vector<std::uint8_t> LengthPrefixed(std::span<const std::uint8_t> bytes) {
  // Sized up front: GCC 12 at -O3 warns falsely about push_back then insert.
  std::vector<std::uint8_t> out(4 + bytes.size());
  const auto length = static_cast<std::uint32_t>(bytes.size());
  StoreU32(out.data(), length);
  std::copy(bytes.begin(), bytes.end(), out.begin() + 4);
  return out;
}

}  // namespace

std::vector<std::uint8_t> WriteStoredBlock(const StoredBlockContents& contents) {
  std::vector<std::uint8_t> out;
  AppendU32(out, kStoredBlockMagic);
  AppendU16(out, contents.BlockVersion);
  AppendF64(out, contents.CompileDate);
  const std::vector<std::uint8_t> debug = LengthPrefixed(contents.DebugData);
  if (contents.BlockVersion >= kFirstVersionWithSymbols) {
    AppendU32(out, static_cast<std::uint32_t>(contents.SymbolTable.size()));
    AppendBytes(out, contents.SymbolTable);
    const Bytes options = CompressBuf(contents.OptionsStream.data(), contents.OptionsStream.size());
    AppendU32(out, static_cast<std::uint32_t>(options.size()));
    AppendBytes(out, options);
    std::vector<std::uint8_t> check;
    AppendU32(check, kStoredBlockMagic);
    BlockCipher(contents.Password).EncryptBuffer(check.data(), check.data(), check.size());
    AppendBytes(out, check);
    AppendBytes(out, CompressBuf(debug.data(), debug.size()));
    return out;
  }
  std::vector<std::uint8_t> rest = contents.OptionsStream;
  AppendBytes(rest, debug);
  if (contents.BlockVersion >= kFirstCompressedVersion) rest = CompressBuf(rest.data(), rest.size());
  AppendBytes(out, rest);
  return out;
}

std::vector<std::uint8_t> WriteAppendedStoredBlock(const StoredBlockContents& contents) {
  std::vector<std::uint8_t> body;
  AppendU16(body, contents.BlockVersion);
  AppendF64(body, contents.CompileDate);
  AppendBytes(body, contents.OptionsStream);
  AppendBytes(body, LengthPrefixed(contents.DebugData));
  std::vector<std::uint8_t> out = body;
  AppendU32(out, static_cast<std::uint32_t>(body.size()));
  AppendU32(out, kStoredBlockMagic);
  return out;
}

}  // namespace vellum::exceptlog
