// Any bytes as a PE image in both forms: as a file (with its resources and
// exports) and mapped at a base as the loader would leave it. Reading must
// refuse or succeed, stay inside the bytes, and agree on what both forms
// take from the same headers (PE32 or PE32+). Input starting with "MZ" is
// a whole image; any other input is written over a valid DLL from an offset
// its first byte picks, so that the fuzzer spends its time past the
// signatures.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "exceptlog/common/binary/pe_file.h"
#include "exceptlog/common/binary/pe_image.h"
#include "exceptlog/common/binary/testing/fake_memory_test_support.h"
#include "exceptlog/common/binary/testing/pe_file_test_support.h"

namespace {

using namespace vellum::exceptlog;
constexpr std::uint32_t kBase = 0x10000000;

void Exercise(const PeImage& image) {
  for (const PeSectionHeader& section : image.Sections()) {
    std::uint8_t bytes[16];
    image.ReadRva(section.VirtualAddress, bytes);
    if (image.CStringAtRva(section.VirtualAddress).size() > kMaxPeNameLength) __builtin_trap();
  }
  if (const auto directory = image.ExportDirectory()) {
    for (std::uint32_t i = 0; i < std::min<std::uint32_t>(directory->NumberOfNames, 64); ++i) {
      if (const auto name = image.U32AtRva(directory->AddressOfNames + 4 * i)) image.CStringAtRva(*name);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  std::vector<std::uint8_t> bytes;
  if (size >= 2 && data[0] == 'M' && data[1] == 'Z') {
    bytes.assign(data, data + size);
  } else {
    bytes = testing::BuildTestDll({0x55, 0x8B, 0xEC, 0x5D, 0xC3}, "ELDATA", {1, 2, 3, 4});
    const std::size_t at = std::min<std::size_t>(data[0] * 8u, bytes.size());
    std::copy_n(data + 1, std::min(size - 1, bytes.size() - at), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  }

  const BufferByteSource file_bytes(bytes);
  const auto as_file = PeImage::Read(file_bytes, PeImageForm::kFile);
  if (as_file) Exercise(*as_file);
  try {
    const PeFile file(bytes);
    file.FindResource(kRawDataResource, "ELDATA");
    for (const PeExport& entry : file.Exports()) {
      if (entry.Name.size() > kMaxPeNameLength) __builtin_trap();
    }
  } catch (const EPeFormatError&) {
  }

  testing::FakeMemory memory;
  memory.Map(kBase, static_cast<std::uint32_t>(bytes.size())).assign(bytes.begin(), bytes.end());
  const MemoryByteSource mapped(memory, kBase);
  const auto as_loaded = PeImage::Read(mapped, PeImageForm::kLoaded);
  if (as_loaded) Exercise(*as_loaded);
  // The same headers, whichever way they are read; only section names may
  // differ (a file resolves long ones).
  if (as_file.has_value() != as_loaded.has_value()) __builtin_trap();
  if (as_file && (as_file->Format() != as_loaded->Format() || as_file->ImageBase() != as_loaded->ImageBase() ||
                  as_file->SizeOfImage() != as_loaded->SizeOfImage() ||
                  as_file->Sections().size() != as_loaded->Sections().size() ||
                  as_file->DataDirectoryCount() != as_loaded->DataDirectoryCount())) {
    __builtin_trap();
  }
  return 0;
}
