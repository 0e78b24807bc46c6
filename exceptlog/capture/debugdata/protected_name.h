// Names in the line tables are stored protected. Blocks before version 500
// scrambled every byte with the options' one-byte key; from 500 each name is
// enciphered with the module's password key, and a module whose password is
// not known shows the stored bytes as "?" plus their Base64 form. From 502 a
// name may be a chain of parts (the length byte's top bit says another part
// follows), which lets a reader without the password still tell class and
// procedure apart.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exceptlog/capture/debugdata/debug_data_cursor.h"
#include "exceptlog/common/codec/block_cipher.h"

namespace vellum::exceptlog {

inline constexpr std::uint16_t kFirstCipheredVersion = 500;
inline constexpr std::uint16_t kFirstChainedNameVersion = 502;
// What a shown name is cut to: the names were short strings.
inline constexpr std::size_t kShownNameLimit = 255;

struct NameProtection {
  std::uint16_t BlockVersion = 0;
  bool PasswordOk = true;
  const BlockCipher* Cipher = nullptr;  // needed from version 500 with PasswordOk
};

// Reads one name with all its parts and returns what is shown for it.
std::string ReadProtectedName(DebugDataCursor& in, const NameProtection& protection);
// Moves past one name without deciphering it.
void SkipProtectedName(DebugDataCursor& in, std::uint16_t block_version);

// Stores `parts` as one name; empty parts are left out (an empty first
// part would read back as "keep the previous class"). Before 502 the parts are joined with "." into a
// single part; a part too long for its length byte is cut (from 502, at a "."
// where there is one, so that the reader's joining gives the same text).
void WriteProtectedName(std::vector<std::uint8_t>& out, std::span<const std::string> parts, std::uint16_t block_version,
                        const BlockCipher& cipher);

}  // namespace vellum::exceptlog
