// Plain files: what the data file's load and save need, and nothing more.
//
// Handles are move-only and close what they own. Every operation reports a FileStatus: 0 or the
// errno of the system call that failed, together with that call's name for the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

struct FileStatus {
  int error = 0;             // errno of the failed call; 0 = success
  const char* call = "";     // name of the system call that failed

  bool ok() const { return error == 0; }
  // "open: No such file or directory"; "ok" for success.
  std::string ToString() const;
};

class File {
 public:
  File() = default;
  ~File();  // closes silently; call Close() to learn whether the close failed
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool is_open() const { return fd_ >= 0; }

  // Opens an existing file for reading; others may read and write it meanwhile.
  static FileStatus OpenForReading(const std::string& path, File& out);

  // Creates the file, or truncates an existing one, for writing with mode 0600 whatever the
  // umask or the mode of the file it replaces. A symbolic link at `path` is refused (ELOOP)
  // rather than followed.
  static FileStatus CreateForWriting(const std::string& path, File& out);

  // REQUIRES: is_open().
  FileStatus Size(uint64_t& size) const;

  // Reads until `size` bytes have arrived or the file ends; `got` tells how many arrived. For a
  // file of `size` bytes this is one read call (Linux moves at most about 2 GiB per call, so a
  // bigger read takes more).
  FileStatus Read(void* buffer, size_t size, size_t& got);

  // Writes all `size` bytes, continuing after partial writes.
  FileStatus Write(const void* data, size_t size);

  // Flushes the file's data and size to the disk (fsync).
  FileStatus Flush();

  // Closes the handle and reports the result; the handle is closed afterwards in any case.
  FileStatus Close();

 private:
  explicit File(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// Renames `from` to `to`; never replaces an existing `to` (EEXIST instead).
FileStatus RenameNoReplace(const std::string& from, const std::string& to);

FileStatus DeleteFile(const std::string& path);

// True when something (a file, a folder, a link) exists at `path`.
bool FileExists(const std::string& path);

// Flushes a folder's entries to the disk, so that renames and deletions in it survive a power
// cut.
FileStatus FlushFolder(const std::string& folder);

// The folder part of `path`: "/a/b" for "/a/b/c", "/" for "/c", "." for "c".
std::string FolderOf(const std::string& path);

}  // namespace platform
