#include "exceptlog/capture/debugdata/protected_name.h"

#include "exceptlog/capture/options/options_codec.h"
#include "exceptlog/common/codec/base64.h"

namespace vellum::exceptlog {
namespace {

constexpr std::uint8_t kChainBit = 0x80;

std::size_t PartLimit(std::uint16_t block_version) {
  return block_version >= kFirstChainedNameVersion ? 0x7F : 0xFF;
}

std::string ShowPart(std::span<const std::uint8_t> stored, const NameProtection& protection) {
  std::string text(stored.begin(), stored.end());
  if (protection.BlockVersion < kFirstCipheredVersion) {
    for (char& c : text) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ kOptionsScramblingKey);
    return text;
  }
  if (text.empty()) return text;
  if (protection.PasswordOk && protection.Cipher != nullptr) {
    protection.Cipher->DecryptBuffer(text.data(), text.data(), text.size());
    return text;
  }
  std::string shown = "?" + Base64FromText(text);
  if (shown.size() > kShownNameLimit) shown.resize(kShownNameLimit);
  return shown;
}

}  // namespace

std::string ReadProtectedName(DebugDataCursor& in, const NameProtection& protection) {
  const bool chained = protection.BlockVersion >= kFirstChainedNameVersion;
  std::string name;
  for (bool first = true;; first = false) {
    const std::uint8_t length_byte = in.U8();
    const std::size_t length = chained ? (length_byte & 0x7F) : length_byte;
    if (!first) name += '.';
    name += ShowPart(in.Take(length), protection);
    if (!chained || (length_byte & kChainBit) == 0) return name;
  }
}

void SkipProtectedName(DebugDataCursor& in, std::uint16_t block_version) {
  const bool chained = block_version >= kFirstChainedNameVersion;
  for (;;) {
    const std::uint8_t length_byte = in.U8();
    in.Skip(chained ? (length_byte & 0x7F) : length_byte);
    if (!chained || (length_byte & kChainBit) == 0) return;
  }
}

namespace {

// Splits `part` into pieces of at most `limit` bytes, at dots where possible.
std::vector<std::string> FitPart(const std::string& part, std::size_t limit) {
  std::vector<std::string> pieces;
  std::string_view rest = part;
  while (rest.size() > limit) {
    const std::size_t dot = rest.substr(0, limit + 1).rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
      // No dot to split at: a longer piece cannot be stored, so it is cut.
      pieces.emplace_back(rest.substr(0, limit));
      return pieces;
    }
    pieces.emplace_back(rest.substr(0, dot));
    rest.remove_prefix(dot + 1);
  }
  pieces.emplace_back(rest);
  return pieces;
}

void WritePart(std::vector<std::uint8_t>& out, const std::string& part, bool more, std::uint16_t block_version,
               const BlockCipher& cipher) {
  std::string stored = part;
  if (block_version < kFirstCipheredVersion) {
    for (char& c : stored) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ kOptionsScramblingKey);
  } else {
    cipher.EncryptBuffer(stored.data(), stored.data(), stored.size());
  }
  out.push_back(static_cast<std::uint8_t>(stored.size() | (more ? kChainBit : 0)));
  out.insert(out.end(), stored.begin(), stored.end());
}

}  // namespace

void WriteProtectedName(std::vector<std::uint8_t>& out, std::span<const std::string> parts, std::uint16_t block_version,
                        const BlockCipher& cipher) {
  std::vector<std::string> pieces;
  if (block_version >= kFirstChainedNameVersion) {
    for (const std::string& part : parts) {
      if (part.empty()) continue;
      for (std::string& piece : FitPart(part, PartLimit(block_version))) pieces.push_back(std::move(piece));
    }
  } else {
    std::string joined;
    for (const std::string& part : parts) {
      if (part.empty()) continue;
      if (!joined.empty()) joined += '.';
      joined += part;
    }
    if (joined.size() > PartLimit(block_version)) joined.resize(PartLimit(block_version));
    pieces.push_back(std::move(joined));
  }
  if (pieces.empty()) pieces.emplace_back();
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    WritePart(out, pieces[i], i + 1 < pieces.size(), block_version, cipher);
  }
}

}  // namespace vellum::exceptlog
