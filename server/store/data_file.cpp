// Loading and saving the data file: DataFileHeader (size of header and group records, version 1,
// group count G), G GroupRecords, then the UserSection to the end of the file.
#include <cerrno>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/clock.h"
#include "platform/file.h"
#include "store/data.h"

namespace {

std::string TempPath(const std::string& path) { return path + ".tmp"; }
std::string BackupPath(const std::string& path) { return path + ".bak"; }

}  // namespace

bool CMVS5Data::Load(const std::string& path) {
  platform::File file;
  platform::FileStatus opened = platform::File::OpenForReading(path, file);
  if (opened.error == ENOENT) {
    // Only a save stopped between its two renames leaves a backup without a data file, and the
    // backup then holds the last complete content (a data file only ever comes into being
    // complete, by renaming a flushed temporary file, and a backup only by renaming a data file).
    opened = platform::File::OpenForReading(BackupPath(path), file);
  }
  if (!opened.ok()) return false;
  uint64_t size = 0;
  if (!file.Size(size).ok() || size < DataFileHeaderSize || size > UINT32_MAX) return false;
  auto buffer = std::make_unique_for_overwrite<std::byte[]>(size);
  size_t got = 0;
  if (!file.Read(buffer.get(), size, got).ok() || got < size) return false;
  file.Close();

  platform::ReadCursor cursor(buffer.get(), size);
  uint32_t header_size = 0, version = 0, group_count = 0;
  cursor.U32(header_size);
  cursor.U32(version);
  cursor.U32(group_count);
  if (header_size > size || version != DataFileVersion) return false;

  platform::ScopedLock guard(lock_, platform::LockMode::Exclusive);
  groups_.clear();
  for (uint32_t i = 0; i < group_count; ++i) {
    std::unique_ptr<CMVS5MacroGroup> group = ReadGroupRecord(cursor);
    if (!group) return false;
    groups_.push_back(std::move(group));
  }
  if (cursor.remaining() > 0 && !ReadUserSection(cursor)) return false;
  return true;
}

bool CMVS5Data::WriteTemp(platform::File& file, uint64_t& seen_changes) {
  platform::ScopedLock guard(lock_, platform::LockMode::Shared);
  seen_changes = changes_.load(std::memory_order_acquire);

  std::vector<uint64_t> group_sizes;
  group_sizes.reserve(groups_.size());
  uint64_t header_size = DataFileHeaderSize;
  for (const auto& group : groups_) {
    group_sizes.push_back(group->GroupRecordSize());
    header_size += group_sizes.back();
  }
  const uint64_t users_size = UserSectionSize();
  // Every size field, and the file size the loader takes, is 32 bits; a bigger store cannot be
  // written without corrupting the file.
  if (header_size + users_size > size_limit_) return false;

  std::byte header[DataFileHeaderSize];
  platform::WriteCursor header_cursor(header, sizeof header);
  header_cursor.U32(static_cast<uint32_t>(header_size));
  header_cursor.U32(DataFileVersion);
  header_cursor.U32(static_cast<uint32_t>(groups_.size()));
  if (!file.Write(header, sizeof header).ok()) return false;
  Probe(SavePoint::Written);

  for (size_t i = 0; i < groups_.size(); ++i) {
    auto buffer = std::make_unique_for_overwrite<std::byte[]>(group_sizes[i]);
    platform::WriteCursor cursor(buffer.get(), group_sizes[i]);
    groups_[i]->WriteGroupRecord(cursor);
    if (!file.Write(buffer.get(), group_sizes[i]).ok()) return false;
    Probe(SavePoint::Written);
  }

  auto buffer = std::make_unique_for_overwrite<std::byte[]>(users_size);
  platform::WriteCursor cursor(buffer.get(), users_size);
  WriteUserSection(cursor);
  if (!file.Write(buffer.get(), users_size).ok()) return false;
  Probe(SavePoint::Written);
  return true;
}

bool CMVS5Data::Save(const std::string& path) {
  platform::ScopedLock one_save(save_lock_, platform::LockMode::Exclusive);
  const std::string temp = TempPath(path);
  const std::string backup = BackupPath(path);

  // Replaces a temporary file left by an interrupted save: it is never the only copy, since a
  // save renames it only after the data file (or, failing that, the backup) holds a full copy.
  platform::File file;
  if (!platform::File::CreateForWriting(temp, file).ok()) return false;
  Probe(SavePoint::TempCreated);
  uint64_t seen_changes = 0;
  const auto give_up = [&] {
    file = platform::File();
    platform::DeleteFile(temp);
    return false;
  };
  if (!WriteTemp(file, seen_changes)) return give_up();
  // The content must be on the disk before a rename makes it the data file; otherwise a power
  // cut soon after could leave a data file whose blocks were never written.
  if (!file.Flush().ok()) return give_up();
  Probe(SavePoint::TempFlushed);
  if (!file.Close().ok()) return give_up();
  Probe(SavePoint::TempClosed);

  platform::FileStatus moved = platform::RenameNoReplace(path, backup);
  if (moved.error == EEXIST && platform::FileExists(path)) {
    // A backup left by an interrupted save while the data file exists: the data file is a
    // complete and newer copy, so the old backup goes and the save can go on.
    if (platform::DeleteFile(backup).ok()) {
      Probe(SavePoint::StaleBackupDeleted);
      moved = platform::RenameNoReplace(path, backup);
    }
  }
  // Otherwise a failure here means there is no data file: the first save, or only a backup
  // left by an interrupted save, which stays until the new data file is in place.
  if (moved.ok()) Probe(SavePoint::DataRenamedToBackup);

  if (!platform::RenameNoReplace(temp, path).ok()) return false;
  Probe(SavePoint::TempRenamedToData);
  // The renames are entries of the folder: they must reach the disk before the backup, possibly
  // the only other copy, is deleted; otherwise a power cut could leave neither file.
  if (!platform::FlushFolder(platform::FolderOf(path)).ok()) return false;
  Probe(SavePoint::FolderFlushed);
  if (platform::DeleteFile(backup).ok()) Probe(SavePoint::BackupDeleted);

  saved_changes_.store(seen_changes, std::memory_order_release);
  last_save_time_.store(platform::TickCount64(), std::memory_order_release);
  return true;
}
