// FileStream on Windows: CreateFileA with the share mode the caller asked
// for, so that a log file held open by one thread refuses or admits others
// exactly as requested.
#include <windows.h>

#include "runtime/stream.h"
#include "runtime/win/unique_handle_win.h"
#include "runtime/win/win_error_win.h"

namespace vellum {

struct FileStream::Handle {
  win::UniqueFileHandle file;
};

namespace {

DWORD ShareFlags(std::uint32_t mode) {
  switch (mode & 0xF0) {
    case fmShareExclusive: return 0;
    case fmShareDenyWrite: return FILE_SHARE_READ;
    case fmShareDenyRead: return FILE_SHARE_WRITE;
    case fmShareDenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default: return 0;  // compatibility mode behaves as exclusive
  }
}

}  // namespace

FileStream::FileStream(const std::string& file_name, std::uint32_t mode)
    : file_name_(file_name), handle_(std::make_unique<Handle>()) {
  const bool create = (mode & 0xFF00) == fmCreate;
  DWORD access = GENERIC_READ;
  if (create || (mode & 0x0F) == fmOpenReadWrite)
    access = GENERIC_READ | GENERIC_WRITE;
  else if ((mode & 0x0F) == fmOpenWrite)
    access = GENERIC_WRITE;
  const DWORD share = create ? 0 : ShareFlags(mode);
  handle_->file.reset(CreateFileA(file_name.c_str(), access, share, nullptr, create ? CREATE_ALWAYS : OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle_->file) {
    const std::string reason = win::SystemErrorMessage(GetLastError());
    if (create) throw EFCreateError("Cannot create file \"" + file_name + "\". " + reason);
    throw EFOpenError("Cannot open file \"" + file_name + "\". " + reason);
  }
}

FileStream::~FileStream() = default;

std::size_t FileStream::Read(void* buffer, std::size_t count) {
  DWORD got = 0;
  if (!ReadFile(handle_->file.get(), buffer, static_cast<DWORD>(count), &got, nullptr)) return 0;
  return got;
}

std::size_t FileStream::Write(const void* buffer, std::size_t count) {
  DWORD put = 0;
  if (!WriteFile(handle_->file.get(), buffer, static_cast<DWORD>(count), &put, nullptr)) return 0;
  return put;
}

std::int64_t FileStream::Seek(std::int64_t offset, SeekOrigin origin) {
  LARGE_INTEGER distance{};
  distance.QuadPart = offset;
  LARGE_INTEGER result{};
  const DWORD method = origin == SeekOrigin::kBeginning ? FILE_BEGIN
                       : origin == SeekOrigin::kCurrent ? FILE_CURRENT
                                                        : FILE_END;
  if (!SetFilePointerEx(handle_->file.get(), distance, &result, method)) throw EStreamError("Invalid stream operation");
  return result.QuadPart;
}

void FileStream::SetSize(std::int64_t size) {
  const std::int64_t position = Position();
  SetPosition(size);
  if (!SetEndOfFile(handle_->file.get())) win::RaiseLastOSError("SetEndOfFile");
  if (position < size) SetPosition(position);
}

bool FileExists(const std::string& file_name) {
  const DWORD attributes = GetFileAttributesA(file_name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool RemoveFile(const std::string& file_name) {
  return ::DeleteFileA(file_name.c_str()) != 0;
}

}  // namespace vellum
