// A small PE DLL file built in memory for the tests of the PE file reader
// and of the tools: a code section and a resource section holding one
// raw-data resource, as PE32 (i386) or PE32+ (x86-64). Written field by
// field, apart from the reader.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace vellum::exceptlog::testing {

inline constexpr std::uint32_t kTestImageBase = 0x10000000;
// Where 64-bit DLLs usually want to be: above 4 GB.
inline constexpr std::uint64_t kTestImageBase64 = 0x180000000;
// The optional header of each format, as BuildTestDll writes it.
inline constexpr std::size_t kTestOptionalHeader = 0x58;
inline constexpr std::size_t kTestOptionalSize32 = 0xE0;
inline constexpr std::size_t kTestOptionalSize64 = 0xF0;
inline constexpr std::uint32_t kCodeRva = 0x1000;
inline constexpr std::uint32_t kResourceRva = 0x2000;

inline void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b.at(at) = static_cast<std::uint8_t>(v);
  b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
  for (std::size_t i = 0; i < 8; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

// `code` goes to RVA 0x1000, the resource of type 10 named `name` holds
// `data`. With `image_base_64`, a PE32+ x86-64 DLL at that base.
inline std::vector<std::uint8_t> BuildTestDll(const std::vector<std::uint8_t>& code, const std::string& name,
                                              const std::vector<std::uint8_t>& data,
                                              std::optional<std::uint64_t> image_base_64 = std::nullopt) {
  const bool plus = image_base_64.has_value();
  const std::size_t optional_size = plus ? kTestOptionalSize64 : kTestOptionalSize32;
  // PE32+ moves the directory count and the directories back by 16 bytes.
  const std::size_t directories = plus ? 112 : 96;
  const std::uint32_t code_raw = 0x400;
  const std::uint32_t code_size = static_cast<std::uint32_t>((code.size() + 0x1FF) & ~0x1FFu);
  const std::uint32_t resource_raw = code_raw + code_size;
  const std::uint32_t name_at = 0x58;
  const std::uint32_t data_at = (name_at + 2 + 2 * static_cast<std::uint32_t>(name.size()) + 3) & ~3u;
  const std::uint32_t resource_size = data_at + static_cast<std::uint32_t>(data.size());
  std::vector<std::uint8_t> b(resource_raw + ((resource_size + 0x1FF) & ~0x1FFu));
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, 0x40);
  Put32(b, 0x40, 0x00004550);
  Put16(b, 0x44, plus ? 0x8664 : 0x014C);
  Put16(b, 0x46, 2);
  Put16(b, 0x54, static_cast<std::uint32_t>(optional_size));
  Put16(b, 0x56, plus ? 0x2022 : 0x2102);
  const std::size_t opt = kTestOptionalHeader;
  Put16(b, opt, plus ? 0x020B : 0x010B);
  if (plus) {
    Put64(b, opt + 24, *image_base_64);
  } else {
    Put32(b, opt + 28, kTestImageBase);
  }
  Put32(b, opt + 56, kResourceRva + 0x1000 + ((resource_size + 0xFFF) & ~0xFFFu));
  Put32(b, opt + directories - 4, 16);
  Put32(b, opt + directories + 16, kResourceRva);
  Put32(b, opt + directories + 20, resource_size);
  const std::size_t sections = opt + optional_size;
  std::memcpy(&b[sections], ".text", 5);
  Put32(b, sections + 8, static_cast<std::uint32_t>(code.size()));
  Put32(b, sections + 12, kCodeRva);
  Put32(b, sections + 16, code_size);
  Put32(b, sections + 20, code_raw);
  Put32(b, sections + 36, 0x60000020);
  std::memcpy(&b[sections + 40], ".rsrc", 5);
  Put32(b, sections + 48, resource_size);
  Put32(b, sections + 52, kResourceRva);
  Put32(b, sections + 56, static_cast<std::uint32_t>(b.size()) - resource_raw);
  Put32(b, sections + 60, resource_raw);
  Put32(b, sections + 76, 0x40000040);
  std::copy(code.begin(), code.end(), b.begin() + code_raw);

  const std::size_t r = resource_raw;
  Put16(b, r + 14, 1);                             // root: one id entry
  Put32(b, r + 16, 10);                            //   type 10
  Put32(b, r + 20, 0x80000000u | 0x18);            //   -> names
  Put16(b, r + 0x18 + 12, 1);                      // names: one named entry
  Put32(b, r + 0x18 + 16, 0x80000000u | name_at);  //   the name
  Put32(b, r + 0x18 + 20, 0x80000000u | 0x30);     //   -> languages
  Put16(b, r + 0x30 + 14, 1);                      // languages: one id entry
  Put32(b, r + 0x30 + 16, 0x409);                  //
  Put32(b, r + 0x30 + 20, 0x48);                   //   -> data entry
  Put32(b, r + 0x48, kResourceRva + data_at);      // data entry: RVA, size
  Put32(b, r + 0x4C, static_cast<std::uint32_t>(data.size()));
  Put16(b, r + name_at, static_cast<std::uint32_t>(name.size()));
  for (std::size_t i = 0; i < name.size(); ++i) Put16(b, r + name_at + 2 + 2 * i, static_cast<std::uint8_t>(name[i]));
  std::copy(data.begin(), data.end(), b.begin() + r + data_at);
  return b;
}

}  // namespace vellum::exceptlog::testing
