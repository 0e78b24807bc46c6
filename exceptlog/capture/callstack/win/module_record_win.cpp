#include "exceptlog/capture/callstack/win/module_record_win.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "exceptlog/capture/callstack/loaded_image.h"
#include "exceptlog/capture/callstack/win/password_request_win.h"
#include "exceptlog/capture/callstack/win/process_address_win.h"
#include "exceptlog/capture/callstack/win/process_memory_win.h"
#include "exceptlog/capture/hooking/win/memory_write_win.h"
#include "exceptlog/capture/options/module_block_win.h"
#include "exceptlog/capture/options/module_identity_win.h"
#include "runtime/strings/date_time.h"
#include "runtime/win/file_time_value_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

namespace {

std::atomic<int> quick_enumerations{0};

constexpr WORD kRawData = 10;  // RT_RCDATA
// A version resource is a few kilobytes; a larger one is not believed.
constexpr DWORD kMaxVersionResource = 1 << 20;
constexpr char kStoredBlockResource[] = "ELDATA";

std::uint64_t AddressOf(HMODULE module) {
  return ToAddress(module);
}

bool HasRawDataResource(HMODULE module, const char* name) {
  return FindResourceA(module, name, MAKEINTRESOURCEA(kRawData)) != nullptr;
}

std::string VersionString(const std::vector<char>& data, const std::string& path) {
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), path.c_str(), &value, &length) || value == nullptr || length == 0) return {};
  const char* text = static_cast<const char*>(value);
  return std::string(text, strnlen(text, length));
}

// The file's bytes from `offset` on, `count` of them; empty on failure.
std::vector<std::uint8_t> ReadFileRange(HANDLE file, std::uint64_t offset, std::uint32_t count) {
  std::vector<std::uint8_t> bytes(count);
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return {};
  DWORD read = 0;
  if (count != 0 && (!ReadFile(file, bytes.data(), count, &read, nullptr) || read != count)) return {};
  return bytes;
}

std::optional<StoredBlock> ReadAppendedBlock(const std::string& file_name, bool quick) {
  win::UniqueFileHandle file(CreateFileA(file_name.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 8) return std::nullopt;
  const auto file_size = static_cast<std::uint64_t>(size.QuadPart);
  const std::vector<std::uint8_t> last = ReadFileRange(file.get(), file_size - 8, 8);
  if (last.size() != 8) return std::nullopt;
  const std::optional<std::uint32_t> block_size = AppendedBlockSize(last);
  // The length is the file's own claim: it must fit in the file.
  if (!block_size || std::uint64_t{*block_size} + 8 > file_size) return std::nullopt;
  const std::vector<std::uint8_t> tail = ReadFileRange(file.get(), file_size - 8 - *block_size, *block_size + 8);
  if (tail.empty()) return std::nullopt;
  return ReadAppendedStoredBlock(tail, quick);
}

void LoadOptions(TRuzadaModuleInfo& record, HMODULE module, const std::optional<StoredBlock>& block) {
  // A module's options must never keep its record from being made: a
  // damaged block or shared block leaves the defaults (or what loaded).
  try {
    if (block && block->HasOptions) LoadStoredOptions(*block, *record.Options);
  } catch (const Exception&) {
  }
  if (module == ThisModuleHandle()) return;
  try {
    LoadPublishedModuleOptions(module, *record.Options, record.BlockVersion);
  } catch (const Exception&) {
  }
}

// A module loaded by a short (8.3) path, as COM may register an in-process
// server, reports that path; reports and the log's file name want the name
// the user knows. The short path when the long one cannot be had.
std::string LongPathName(const std::string& path) {
  std::vector<char> buffer(MAX_PATH);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length = GetLongPathNameA(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return path;
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length + 1);
  }
  return path;
}

}  // namespace

bool QuickEnumerationRunning() {
  return quick_enumerations.load() > 0;
}

QuickEnumerationScope::QuickEnumerationScope() {
  ++quick_enumerations;
}

QuickEnumerationScope::~QuickEnumerationScope() {
  --quick_enumerations;
}

std::string LoaderModuleFileName(HMODULE module) {
  char first[MAX_PATH];
  DWORD length = GetModuleFileNameA(module, first, MAX_PATH);
  if (length < MAX_PATH) return std::string(first, length);
  // Long paths: the answer fills the buffer exactly when it was cut.
  std::vector<char> buffer(2 * MAX_PATH);
  while (buffer.size() <= 32768) {
    length = GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
  return {};
}

std::string LoadedModuleFileName(HMODULE module) {
  const std::string name = LoaderModuleFileName(module);
  return name.empty() ? name : LongPathName(ModuleFileNameWithoutPrefix(name));
}

double ModuleFileDate(const std::string& file_name) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(file_name.c_str(), GetFileExInfoStandard, &data)) return 0;
  FILETIME local{};
  SYSTEMTIME time{};
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToSystemTime(&local, &time)) return 0;
  return DateTimeToSerial(DateTime{time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond, 0});
}

std::string FolderOfFile(const std::string& file_name) {
  const std::size_t separator = file_name.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : file_name.substr(0, separator + 1);
}

std::uint64_t FolderWriteTime(const std::string& folder) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (folder.empty() || !GetFileAttributesExA(folder.c_str(), GetFileExInfoStandard, &data)) return 0;
  return win::FileTimeValue(data.ftLastWriteTime);
}

FileVersionData ReadFileVersionData(const std::string& file_name) {
  FileVersionData result;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(file_name.c_str(), &ignored);
  if (size == 0 || size > kMaxVersionResource) return result;
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(file_name.c_str(), 0, size, data.data())) return result;

  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueA(data.data(), "\\", &value, &length) && value != nullptr && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    if (fixed->dwSignature == 0xFEEF04BD)
      result.Version = FormatFileVersion(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
  }

  std::vector<std::string> tables;
  if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) && value != nullptr) {
    const auto* pairs = static_cast<const WORD*>(value);
    for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
      char table[16];
      wsprintfA(table, "%04x%04x", pairs[i], pairs[i + 1]);
      tables.emplace_back(table);
    }
  }
  // Without a translation table, the usual US English tables.
  tables.insert(tables.end(), {"040904e4", "040904b0"});
  for (const std::string& table : tables) {
    result.Description = VersionString(data, "\\StringFileInfo\\" + table + "\\FileDescription");
    if (!result.Description.empty()) break;
  }
  return result;
}

std::uint8_t DetermineModuleKind(HMODULE module, const MemoryReader& memory) {
  const std::optional<PeLayout> layout = ReadPeLayout(memory, AddressOf(module), kThisProcessBits);
  if (!layout) return mkUndetermined;
  if (!layout->is_dll) return mkProgram;
  if (HasRawDataResource(module, "PACKAGEINFO") && HasRawDataResource(module, "PACKAGEOPTIONS")) return mkPackage;
  return mkLibrary;
}

TRuzadaFunctionsList ReadModuleExports(HMODULE module, const MemoryReader& memory) {
  ExportReadOptions options;
  options.lookup = [](std::uint64_t base, const std::string& name, std::uint64_t) -> std::optional<std::uint64_t> {
    const FARPROC address = GetProcAddress(ToPointer<std::remove_pointer_t<HMODULE>>(base), name.c_str());
    if (address == nullptr) return std::nullopt;
    return ToAddress(reinterpret_cast<void*>(address));
  };
  options.system_thunks = !exceptlog::IsNtPlatform();
  options.bits = kThisProcessBits;
  return ReadExportedFunctions(memory, AddressOf(module), options);
}

std::optional<StoredBlock> ReadModuleStoredBlock(HMODULE module, const std::string& file_name, bool quick) {
  if (HRSRC resource = FindResourceA(module, kStoredBlockResource, MAKEINTRESOURCEA(kRawData))) {
    const DWORD size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    // The resource directory is the module's own claim: its size must be
    // there to read.
    if (bytes != nullptr && size != 0 && MemoryIsReadable(bytes, size)) {
      const PasswordRequest request = quick ? PasswordRequest{} : ExportedPasswordRequest(module);
      const std::span<const std::uint8_t> resource(static_cast<const std::uint8_t*>(bytes), size);
      // The debug data is inflated when a report first names an address.
      auto block = quick ? ReadStoredBlock(resource, true, request) : ReadStoredBlockDeferred(resource, request);
      if (block) return block;
    }
  }
  return ReadAppendedBlock(file_name, quick);
}

std::shared_ptr<TRuzadaModuleInfo> CreateModuleRecord(HMODULE module, bool quick) {
  std::string loaded_name = LoaderModuleFileName(module);
  if (loaded_name.empty()) return nullptr;
  auto record = std::make_shared<TRuzadaModuleInfo>();
  record->Handle = AddressOf(module);
  record->FileName = LongPathName(ModuleFileNameWithoutPrefix(loaded_name));
  record->LoadedName = std::move(loaded_name);
  record->Password.clear();
  record->PasswordOk = 1;
  record->FileDate = ModuleFileDate(record->FileName);
  if (record->FileDate == 0) {
    // The folder's time is read before the file is asked again: a file made
    // after that question changes it. File times move in steps (two seconds
    // on FAT, a few milliseconds on some hosts): a folder changed within the
    // last step could change again without a new time, so only an older
    // time is kept.
    const std::uint64_t folder_time = FolderWriteTime(FolderOfFile(record->FileName));
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    constexpr std::uint64_t kTimeStep = 3ULL * 10'000'000;  // three seconds
    if (folder_time != 0 && folder_time + kTimeStep < win::FileTimeValue(now) &&
        ModuleFileDate(record->FileName) == 0) {
      record->MissingFileFolderTime = folder_time;
    }
  }
  FileVersionData version = ReadFileVersionData(record->FileName);
  record->Description = std::move(version.Description);
  record->Version = std::move(version.Version);
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  if (GetFileAttributesExA(record->FileName.c_str(), GetFileExInfoStandard, &attributes)) {
    record->Size = attributes.nFileSizeLow;
  }
  const ProcessMemoryReader memory;
  if (const std::optional<PeLayout> layout = ReadPeLayout(memory, AddressOf(module), kThisProcessBits)) {
    record->ImageSize = layout->size_of_image;
    record->CodeStart = layout->code_start;
    record->CodeEnd = layout->code_end;
  }
  if (!quick) {
    if (module != GetModuleHandleA(nullptr)) record->Functions = ReadModuleExports(module, memory);
    record->Kind = DetermineModuleKind(module, memory);
  }

  record->Options = std::make_unique<TRuzadaModuleOptionsEx>(record->FileName, true, ModuleBlockPublisher());
  std::optional<StoredBlock> block = ReadModuleStoredBlock(module, record->FileName, quick);
  if (block) {
    record->BlockVersion = block->BlockVersion;
    record->CompileDate = block->CompileDate;
    record->Password = block->Password;
    record->PasswordOk = block->PasswordOk ? 1 : 0;
    record->Key = block->Key;
  } else {
    record->BlockVersion = kOwnBlockVersion;
    record->CompileDate = 0;
  }
  LoadOptions(*record, module, block);
  if (block && block->DebugDataDeferred) {
    auto deferred = std::make_shared<StoredBlock>();
    deferred->DebugDataDeferred = true;
    deferred->CompressedDebugData = std::move(block->CompressedDebugData);
    record->SetDebugDataSource([deferred]() -> std::optional<std::vector<std::uint8_t>> {
      InflateDeferredDebugData(*deferred);
      if (!deferred->HasDebugData) return std::nullopt;
      return std::move(deferred->DebugData);
    });
  } else if (block && !quick && block->HasDebugData) {
    record->SetDebugData(std::move(block->DebugData));
  }
  return record;
}

}  // namespace vellum::exceptlog
