#include "exceptlog/common/binary/pe_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "exceptlog/common/binary/pe_file.h"
#include "exceptlog/common/binary/testing/fake_memory_test_support.h"
#include "exceptlog/common/binary/testing/pe_file_test_support.h"
#include "exceptlog/common/binary/testing/pe_image_test_support.h"

namespace vellum::exceptlog {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::BuildTestDll;
using testing::Put16;
using testing::Put32;

constexpr std::uint32_t kBase = 0x10000000;
// Where BuildTestDll puts the headers.
constexpr std::size_t kNtHeaders = 0x40;
constexpr std::size_t kOptionalHeader = 0x58;
constexpr std::size_t kSectionTable = kOptionalHeader + 0xE0;
constexpr std::size_t kHeadersEnd = kSectionTable + 2 * 40;

const Bytes kCode = {0x55, 0x8B, 0xEC, 0x90, 0x5D, 0xC3, 0xCC, 0xCC};

// The file as the loader maps it: headers, then each section's file data at
// its RVA; the rest of the image is zero.
void LoadFile(testing::FakeMemory& memory, const Bytes& file, std::uint32_t base) {
  const PeFile parsed(file);
  memory.Map(base, parsed.SizeOfImage());
  memory.Write(base, Bytes(file.begin(), file.begin() + kHeadersEnd));
  for (const PeSectionHeader& section : parsed.Sections()) {
    const auto data = parsed.SectionData(section);
    memory.Write(base + section.VirtualAddress, Bytes(data.begin(), data.end()));
  }
}

// A file's bytes with the image read from them (which points into them).
struct FileImage {
  explicit FileImage(Bytes file) : bytes(std::move(file)), source(bytes) {
    image = PeImage::Read(source, PeImageForm::kFile, &problem);
  }
  FileImage(const FileImage&) = delete;
  Bytes bytes;
  BufferByteSource source;
  std::string problem;
  std::optional<PeImage> image;
};

TEST(PeImage, OneImageReadAsAFileAndAsTheLoaderMappedIt) {
  const Bytes file = BuildTestDll(kCode, "ELDATA", {1, 2, 3});
  const BufferByteSource file_bytes(file);
  const auto as_file = PeImage::Read(file_bytes, PeImageForm::kFile);
  testing::FakeMemory memory;
  LoadFile(memory, file, kBase);
  const MemoryByteSource mapped(memory, kBase);
  const auto as_loaded = PeImage::Read(mapped, PeImageForm::kLoaded);
  ASSERT_TRUE(as_file);
  ASSERT_TRUE(as_loaded);

  for (const PeImage* image : {&*as_file, &*as_loaded}) {
    EXPECT_EQ(image->ImageBase(), testing::kTestImageBase);
    EXPECT_TRUE(image->IsDll());
    EXPECT_EQ(image->Machine(), kMachineI386);
    ASSERT_EQ(image->Sections().size(), 2u);
    EXPECT_EQ(image->SectionAt(testing::kResourceRva + 4), image->FindSection(".rsrc"));
    EXPECT_EQ(image->DataDirectory(kResourceDirectory).Rva, testing::kResourceRva);
    Bytes code(kCode.size());
    ASSERT_TRUE(image->ReadRva(testing::kCodeRva, code));
    EXPECT_EQ(code, kCode);
  }

  // The code's RVA is its file offset in neither form: the file keeps it at
  // the section's raw offset, the loader at the RVA itself.
  const std::uint32_t raw_offset = as_file->FindSection(".text")->RawOffset;
  EXPECT_EQ(file_bytes.U16(raw_offset), 0x8B55);
  EXPECT_NE(mapped.U16(raw_offset), 0x8B55);
  std::uint8_t byte;
  EXPECT_FALSE(as_file->ReadRva(raw_offset, std::span(&byte, 1))) << "no section holds that RVA";
  EXPECT_TRUE(as_loaded->ReadRva(raw_offset, std::span(&byte, 1))) << "the headers are mapped";
  // A section's file data ends with its virtual size; the mapped section
  // goes on with zeros.
  EXPECT_FALSE(as_file->ReadRva(testing::kCodeRva + static_cast<std::uint32_t>(kCode.size()), std::span(&byte, 1)));
  EXPECT_TRUE(as_loaded->ReadRva(testing::kCodeRva + static_cast<std::uint32_t>(kCode.size()), std::span(&byte, 1)));
  EXPECT_FALSE(as_loaded->ReadRva(as_loaded->SizeOfImage(), std::span(&byte, 1))) << "past the mapped image";
  EXPECT_FALSE(as_loaded->ReadRva(0xFFFFFFFF, std::span(&byte, 1))) << "past 4 GB";
}

TEST(PeImage, TruncatedHeadersAreRefusedWithTheReason) {
  for (const bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    const Bytes file = plus ? BuildTestDll(kCode, "ELDATA", {1, 2, 3}, testing::kTestImageBase64)
                            : BuildTestDll(kCode, "ELDATA", {1, 2, 3});
    const std::size_t section_table =
        kOptionalHeader + (plus ? testing::kTestOptionalSize64 : testing::kTestOptionalSize32);
    const std::size_t headers_end = section_table + 2 * 40;
    for (std::size_t size = 0; size < headers_end; ++size) {
      const FileImage cut(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size)));
      EXPECT_FALSE(cut.image) << size;
      const char* expected = size < 0x40              ? "not a PE file (no MZ header)"
                             : size < kOptionalHeader ? "not a PE file (no PE signature)"
                             : size < section_table   ? "PE file is cut short in the optional header"
                                                      : "PE file is cut short in the section table";
      EXPECT_EQ(cut.problem, expected) << size;
    }
    EXPECT_TRUE(FileImage(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(headers_end))).image);
  }
}

TEST(PeImage, APe32PlusImageKeepsItsBaseAboveFourGigabytes) {
  const Bytes file = BuildTestDll(kCode, "ELDATA", {1, 2, 3}, testing::kTestImageBase64);
  const FileImage as_file(file);
  ASSERT_TRUE(as_file.image) << as_file.problem;
  // The loader maps it anywhere; what the headers say does not depend on where.
  testing::FakeMemory memory;
  memory.Map(kBase, 0x3000);
  memory.Write(kBase, Bytes(file.begin(), file.begin() + 0x400));
  memory.Write(kBase + testing::kCodeRva, kCode);
  const MemoryByteSource mapped(memory, kBase);
  const auto as_loaded = PeImage::Read(mapped, PeImageForm::kLoaded);
  ASSERT_TRUE(as_loaded);

  for (const PeImage* image : {&*as_file.image, &*as_loaded}) {
    EXPECT_EQ(image->Format(), PeFormat::kPe32Plus);
    EXPECT_EQ(image->ImageBase(), 0x180000000u) << "all eight bytes of the base";
    EXPECT_EQ(image->Machine(), kMachineAmd64);
    EXPECT_TRUE(image->IsDll());
    // The directories start 16 bytes later than in PE32.
    EXPECT_EQ(image->DataDirectoryCount(), 16u);
    EXPECT_EQ(image->DataDirectory(kResourceDirectory).Rva, testing::kResourceRva);
    ASSERT_EQ(image->Sections().size(), 2u);
    EXPECT_EQ(image->Sections()[1].Name, ".rsrc");
    Bytes code(kCode.size());
    ASSERT_TRUE(image->ReadRva(testing::kCodeRva, code));
    EXPECT_EQ(code, kCode);
  }
  EXPECT_EQ(std::string(PeFormatName(as_file.image->Format())) + " " + PeMachineName(as_file.image->Machine()),
            "PE32+ x86-64");
  EXPECT_EQ(PeMachineName(0xAA64), "machine 0xAA64");
}

TEST(PeImage, OffsetsAndCountsPastTheEndAreRefused) {
  const Bytes good = BuildTestDll(kCode, "ELDATA", {1, 2, 3});
  const Bytes plus = BuildTestDll(kCode, "ELDATA", {1, 2, 3}, testing::kTestImageBase64);
  const auto problem = [](Bytes changed, std::size_t at, std::uint32_t value, bool wide) {
    wide ? Put32(changed, at, value) : Put16(changed, at, static_cast<std::uint16_t>(value));
    const FileImage image(changed);
    return image.image ? std::string("read") : image.problem;
  };
  EXPECT_NE(problem(good, 0x3C, 0xFFFFFFFC, true), "read") << "new header offset past the end";
  EXPECT_NE(problem(good, kNtHeaders + 6, 0xFFFF, false), "read") << "more sections than the file holds";
  EXPECT_NE(problem(good, kNtHeaders + 20, 0xFFFF, false), "read") << "optional header longer than the file";
  EXPECT_EQ(problem(good, kNtHeaders + 20, 95, false), "optional header too short for PE32");
  EXPECT_EQ(problem(plus, kNtHeaders + 20, 111, false), "optional header too short for PE32+");
  EXPECT_EQ(problem(good, kNtHeaders + 20, 1, false), "not a PE32 or PE32+ optional header") << "no room for the magic";
  EXPECT_EQ(problem(good, kOptionalHeader, 0x0107, false), "not a PE32 or PE32+ optional header") << "a ROM image";
  EXPECT_EQ(problem(plus, kOptionalHeader, 0, false), "not a PE32 or PE32+ optional header");

  // The directory count is believed only as far as the header has room.
  Bytes many = good;
  Put32(many, kOptionalHeader + 92, 0xFFFFFFFF);
  const FileImage with_many(many);
  ASSERT_TRUE(with_many.image);
  EXPECT_EQ(with_many.image->DataDirectoryCount(), 16u);
  EXPECT_EQ(with_many.image->DataDirectory(kResourceDirectory).Rva, testing::kResourceRva);
  EXPECT_EQ(with_many.image->DataDirectory(16).Rva, 0u);
  EXPECT_EQ(with_many.image->DataDirectory(-1).Rva, 0u);
  Bytes many_plus = plus;
  Put32(many_plus, kOptionalHeader + 108, 0xFFFFFFFF);
  const FileImage with_many_plus(many_plus);
  ASSERT_TRUE(with_many_plus.image);
  EXPECT_EQ(with_many_plus.image->DataDirectoryCount(), 16u);
  Put32(many_plus, kOptionalHeader + 108, 3);
  EXPECT_EQ(FileImage(many_plus).image->DataDirectoryCount(), 3u) << "the PE32+ count, not the PE32 one";

  // In memory: headers that would run past 4 GB.
  testing::FakeMemory memory;
  const std::uint32_t top = 0xFFFFF000;
  memory.Map(top, 0x1000);
  memory.Write(top, Bytes(good.begin(), good.begin() + kHeadersEnd));
  memory.Write32(top + 0x3C, 0xFF0);
  EXPECT_FALSE(PeImage::Read(MemoryByteSource(memory, top), PeImageForm::kLoaded));
  memory.Write32(top + 0x3C, 0xFFFFFFF0);
  EXPECT_FALSE(PeImage::Read(MemoryByteSource(memory, top), PeImageForm::kLoaded));
}

TEST(PeImage, LongSectionNamesComeFromTheStringTableOfAFile) {
  Bytes file = BuildTestDll(kCode, "ELDATA", {1, 2, 3});
  // No symbols, so the string table starts at the pointer: its size, then texts.
  const std::size_t strings = file.size();
  file.resize(strings + 4 + 12);
  std::copy_n(".debug_info", 12, file.begin() + static_cast<std::ptrdiff_t>(strings + 4));
  Put32(file, kNtHeaders + 12, static_cast<std::uint32_t>(strings));
  std::copy_n("/4\0\0\0\0\0\0", 8, file.begin() + kSectionTable);
  std::copy_n("/9999999", 8, file.begin() + kSectionTable + 40);
  const FileImage named(file);
  ASSERT_TRUE(named.image);
  EXPECT_EQ(named.image->Sections()[0].Name, ".debug_info");
  EXPECT_EQ(named.image->Sections()[1].Name, "/9999999") << "a name past the file stays as it is";

  // A mapped image carries no string table.
  testing::FakeMemory memory;
  memory.Map(kBase, 0x3000);
  memory.Write(kBase, Bytes(file.begin(), file.begin() + kHeadersEnd));
  EXPECT_EQ(PeImage::Read(MemoryByteSource(memory, kBase), PeImageForm::kLoaded)->Sections()[0].Name, "/4");
}

TEST(PeImage, TheExportDirectory) {
  testing::FakeMemory memory;
  testing::WriteFakeImage(memory, {}, {{"First", 0x1000}, {"Second", 0x1010}});
  const MemoryByteSource mapped(memory, kBase);
  const auto image = PeImage::Read(mapped, PeImageForm::kLoaded);
  ASSERT_TRUE(image);
  const auto directory = image->ExportDirectory();
  ASSERT_TRUE(directory);
  EXPECT_EQ(directory->NumberOfNames, 2u);
  EXPECT_EQ(image->CStringAtRva(*image->U32AtRva(directory->AddressOfNames + 4)), "Second");
  EXPECT_EQ(image->U32AtRva(directory->AddressOfFunctions), 0x1000u);

  const FileImage without(BuildTestDll(kCode, "ELDATA", {1}));
  EXPECT_FALSE(without.image->ExportDirectory()) << "a file without exports";
}

}  // namespace
}  // namespace vellum::exceptlog
