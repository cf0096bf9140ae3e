#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace platform {
namespace {

FileStatus Failed(const char* call) { return {errno, call}; }

}  // namespace

std::string FileStatus::ToString() const {
  if (ok()) return "ok";
  char text[256];
  // The GNU strerror_r returns its text, which may or may not be the buffer.
  const char* message = strerror_r(error, text, sizeof text);
  return std::string(call) + ": " + message;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FileStatus File::OpenForReading(const std::string& path, File& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Failed("open");
  out = File(fd);
  return {};
}

FileStatus File::CreateForWriting(const std::string& path, File& out) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return Failed("open");
  File file(fd);
  // O_CREAT's mode is filtered by the umask and does not apply to a file that already existed.
  if (::fchmod(fd, 0600) != 0) return Failed("fchmod");
  out = std::move(file);
  return {};
}

FileStatus File::Size(uint64_t& size) const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return Failed("fstat");
  size = static_cast<uint64_t>(st.st_size);
  return {};
}

FileStatus File::Read(void* buffer, size_t size, size_t& got) {
  auto* p = static_cast<char*>(buffer);
  got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd_, p + got, size - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Failed("read");
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return {};
}

FileStatus File::Write(const void* data, size_t size) {
  const auto* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd_, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Failed("write");
    }
    done += static_cast<size_t>(n);
  }
  return {};
}

FileStatus File::Flush() {
  if (::fsync(fd_) != 0) return Failed("fsync");
  return {};
}

FileStatus File::Close() {
  const int fd = std::exchange(fd_, -1);
  // Linux frees the descriptor even when close reports an error, so it is never retried.
  if (::close(fd) != 0) return Failed("close");
  return {};
}

FileStatus RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0)
    return Failed("renameat2");
  return {};
}

FileStatus DeleteFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return Failed("unlink");
  return {};
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

FileStatus FlushFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Failed("open");
  FileStatus status;
  if (::fsync(fd) != 0) status = Failed("fsync");
  ::close(fd);
  return status;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace platform
