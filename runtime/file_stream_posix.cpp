// FileStream on POSIX for the native build. Share modes have no POSIX
// counterpart and are accepted as given; the Windows build enforces them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime/stream.h"

namespace vellum {

struct FileStream::Handle {
  int fd = -1;
  ~Handle() {
    if (fd >= 0) close(fd);
  }
};

FileStream::FileStream(const std::string& file_name, std::uint32_t mode)
    : file_name_(file_name), handle_(std::make_unique<Handle>()) {
  const bool create = (mode & 0xFF00) == fmCreate;
  int flags = O_CLOEXEC;
  if (create) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (mode & 0x0F) {
      case fmOpenWrite: flags |= O_WRONLY; break;
      case fmOpenReadWrite: flags |= O_RDWR; break;
      default: flags |= O_RDONLY; break;
    }
  }
  handle_->fd = open(file_name.c_str(), flags, 0644);
  if (handle_->fd < 0) {
    const std::string reason = std::strerror(errno);
    if (create) throw EFCreateError("Cannot create file \"" + file_name + "\". " + reason);
    throw EFOpenError("Cannot open file \"" + file_name + "\". " + reason);
  }
}

FileStream::~FileStream() = default;

std::size_t FileStream::Read(void* buffer, std::size_t count) {
  const ssize_t got = read(handle_->fd, buffer, count);
  return got < 0 ? 0 : static_cast<std::size_t>(got);
}

std::size_t FileStream::Write(const void* buffer, std::size_t count) {
  const ssize_t put = write(handle_->fd, buffer, count);
  return put < 0 ? 0 : static_cast<std::size_t>(put);
}

std::int64_t FileStream::Seek(std::int64_t offset, SeekOrigin origin) {
  const int whence = origin == SeekOrigin::kBeginning ? SEEK_SET : origin == SeekOrigin::kCurrent ? SEEK_CUR : SEEK_END;
  const off_t result = lseek(handle_->fd, static_cast<off_t>(offset), whence);
  if (result < 0) throw EStreamError("Invalid stream operation");
  return result;
}

void FileStream::SetSize(std::int64_t size) {
  if (ftruncate(handle_->fd, static_cast<off_t>(size)) != 0) throw EStreamError("Invalid stream operation");
}

bool FileExists(const std::string& file_name) {
  struct stat info {};
  return stat(file_name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool RemoveFile(const std::string& file_name) {
  return unlink(file_name.c_str()) == 0;
}

}  // namespace vellum
