// Reading a module's stored block in its two forms: the raw-data resource
// "ELDATA" and the block appended to the module file. Whatever is damaged is
// left out and named in Problem; the reader itself never raises.
#include <cmath>

#include "exceptlog/capture/debugdata/debug_data.h"
#include "exceptlog/capture/debugdata/debug_data_cursor.h"
#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/common/zlib/zlib_buffer.h"

namespace vellum::exceptlog {
namespace {

constexpr std::uint16_t kFirstCompressedVersion = 450;
// Date-times outside the years 1..9999 are not dates; a consumer formatting
// one would fail, so such a compile date reads as 0.
constexpr double kFirstDate = -693593.0;
constexpr double kLastDate = 2958466.0;

void AddProblem(StoredBlock& block, const std::string& text) {
  if (!block.Problem.empty()) block.Problem += "; ";
  block.Problem += text;
}

void ReadHeader(DebugDataCursor& in, StoredBlock& block) {
  block.BlockVersion = in.U16();
  const double date = in.F64();
  if (std::isfinite(date) && date >= kFirstDate && date <= kLastDate) {
    block.CompileDate = date;
  } else {
    AddProblem(block, "the compile date is not a date");
  }
}

// Loads the options at the start of `bytes` into a scratch object: proves
// they load, and tells how many bytes they take. Nothing when they do not.
std::optional<std::size_t> MeasureOptions(std::span<const std::uint8_t> bytes, std::uint16_t version,
                                          std::string& error) {
  try {
    TRuzadaModuleOptions scratch(std::string(), false);
    MemoryStream stream(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    scratch.LoadFromStream(stream, version);
    return static_cast<std::size_t>(stream.Position());
  } catch (const Exception& e) {
    error = e.Message();
    return std::nullopt;
  }
}

void TakeOptions(std::span<const std::uint8_t> bytes, StoredBlock& block) {
  std::string error;
  const auto length = MeasureOptions(bytes, block.BlockVersion, error);
  if (!length) {
    AddProblem(block, "the options do not load (" + error + ")");
    return;
  }
  block.OptionsStream.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(*length));
  block.HasOptions = true;
}

// A 4-byte length and the debug data. A length beyond the data keeps what is
// there: the line-table reader is bounds-checked, so a cut table only
// resolves fewer addresses.
void TakeDebugData(DebugDataCursor& in, StoredBlock& block) {
  if (in.Remaining() < 4) {
    AddProblem(block, "the debug data is missing");
    return;
  }
  const std::uint32_t length = in.U32();
  if (length > in.Remaining()) AddProblem(block, "the debug data is cut short");
  const auto data = in.Take(std::min<std::size_t>(length, in.Remaining()));
  block.DebugData.assign(data.begin(), data.end());
  block.HasDebugData = true;
}

std::optional<Bytes> InflateRest(std::span<const std::uint8_t> rest, StoredBlock& block) {
  try {
    PartialInflate inflated = DecompressBufPartial(rest.data(), rest.size());
    if (!inflated.complete) AddProblem(block, "the compressed data is damaged (" + inflated.error + ")");
    return std::move(inflated.bytes);
  } catch (const EZLibError& e) {
    AddProblem(block, "the compressed data does not inflate (" + e.Message() + ")");
    return std::nullopt;
  }
}

void CheckPassword(std::span<const std::uint8_t> check, const PasswordRequest& request_password, StoredBlock& block) {
  if (request_password) {
    // The request runs code of the module being read; whatever it raises
    // leaves the password empty instead of failing the whole module.
    try {
      block.Password = request_password(block.Password);
    } catch (const std::exception& e) {
      AddProblem(block, std::string("the password request failed (") + e.what() + ")");
    }
  }
  const BlockCipher cipher(block.Password);
  block.Key = cipher.Key();
  std::uint8_t plain[4];
  cipher.DecryptBuffer(check.data(), plain, sizeof plain);
  block.PasswordOk = LoadU32(plain) == kStoredBlockMagic;
}

// What the compressed rest holds: the debug data, or what damage left of it.
void InflateDebugData(std::span<const std::uint8_t> compressed, StoredBlock& block) {
  if (const auto rest = InflateRest(compressed, block)) {
    DebugDataCursor debug(*rest);
    TakeDebugData(debug, block);
  }
}

void ReadCurrentLayout(DebugDataCursor& in, bool quick, bool defer, const PasswordRequest& request_password,
                       StoredBlock& block) {
  const auto symbols = in.Take(in.U32());
  block.SymbolTable.assign(symbols.begin(), symbols.end());
  const auto compressed_options = in.Take(in.U32());
  try {
    const Bytes options = DecompressBuf(compressed_options.data(), compressed_options.size());
    TakeOptions(options, block);
  } catch (const EZLibError& e) {
    AddProblem(block, "the options do not inflate (" + e.Message() + ")");
  }
  const auto check = in.Take(4);
  if (quick) return;
  CheckPassword(check, request_password, block);
  const auto rest = in.Rest();
  if (defer) {
    block.CompressedDebugData.assign(rest.begin(), rest.end());
    block.DebugDataDeferred = true;
  } else {
    InflateDebugData(rest, block);
  }
}

void ReadOldLayout(DebugDataCursor& in, bool quick, StoredBlock& block) {
  std::optional<Bytes> inflated;
  std::span<const std::uint8_t> rest = in.Rest();
  if (block.BlockVersion >= kFirstCompressedVersion) {
    inflated = InflateRest(rest, block);
    if (!inflated) return;
    rest = *inflated;
  }
  TakeOptions(rest, block);
  // The debug data follows the options; without them its start is unknown.
  if (quick || !block.HasOptions) return;
  DebugDataCursor debug(rest.subspan(block.OptionsStream.size()));
  TakeDebugData(debug, block);
}

std::optional<StoredBlock> ReadResourceBlock(std::span<const std::uint8_t> resource, bool quick, bool defer,
                                             const PasswordRequest& request_password) {
  if (resource.size() < 4 || LoadU32(resource.data()) != kStoredBlockMagic) return std::nullopt;
  StoredBlock block;
  block.Key = BlockCipher(std::string()).Key();
  DebugDataCursor in(resource.subspan(4));
  try {
    ReadHeader(in, block);
    if (block.BlockVersion >= kFirstVersionWithSymbols) {
      ReadCurrentLayout(in, quick, defer, request_password, block);
    } else {
      ReadOldLayout(in, quick, block);
    }
  } catch (const EDebugDataError&) {
    AddProblem(block, "the stored block is cut short");
  }
  return block;
}

}  // namespace

std::optional<StoredBlock> ReadStoredBlock(std::span<const std::uint8_t> resource, bool quick,
                                           const PasswordRequest& request_password) {
  return ReadResourceBlock(resource, quick, false, request_password);
}

std::optional<StoredBlock> ReadStoredBlockDeferred(std::span<const std::uint8_t> resource,
                                                   const PasswordRequest& request_password) {
  return ReadResourceBlock(resource, false, true, request_password);
}

void InflateDeferredDebugData(StoredBlock& block) {
  if (!block.DebugDataDeferred) return;
  block.DebugDataDeferred = false;
  const std::vector<std::uint8_t> compressed = std::move(block.CompressedDebugData);
  block.CompressedDebugData.clear();
  InflateDebugData(compressed, block);
}

std::optional<std::uint32_t> AppendedBlockSize(std::span<const std::uint8_t> last_eight_bytes) {
  if (last_eight_bytes.size() < 8) return std::nullopt;
  const auto tail = last_eight_bytes.last(8);
  if (LoadU32(&tail[4]) != kStoredBlockMagic) return std::nullopt;
  return LoadU32(tail.data());
}

std::optional<StoredBlock> ReadAppendedStoredBlock(std::span<const std::uint8_t> file_tail, bool quick) {
  const auto size = AppendedBlockSize(file_tail);
  if (!size) return std::nullopt;
  StoredBlock block;
  block.Key = BlockCipher(std::string()).Key();
  const std::size_t available = file_tail.size() - 8;
  if (*size > available) {
    AddProblem(block, "the appended block is longer than the file");
    return block;
  }
  DebugDataCursor in(file_tail.subspan(available - *size, *size));
  try {
    ReadHeader(in, block);
    TakeOptions(in.Rest(), block);
    if (!quick && block.HasOptions) {
      in.Skip(block.OptionsStream.size());
      TakeDebugData(in, block);
    }
  } catch (const EDebugDataError&) {
    AddProblem(block, "the appended block is cut short");
  }
  return block;
}

bool LoadStoredOptions(const StoredBlock& block, TRuzadaModuleOptions& options) {
  if (!block.HasOptions) return false;
  try {
    MemoryStream stream(block.OptionsStream);
    options.LoadFromStream(stream, block.BlockVersion);
    return true;
  } catch (const Exception&) {
    return false;
  }
}

}  // namespace vellum::exceptlog
