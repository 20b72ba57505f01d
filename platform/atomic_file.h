// Replacing a whole local file so that a crash at any moment leaves either the
// old file or the new one, whole: the bytes go to a temporary file in the
// target's folder, are flushed to disk, and the temporary file is renamed over
// the target. Used by the profile service and by CopyFileOver.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace platform {

class AtomicFile {
 public:
  // target is a path on disk (UTF-8, as ResolvePath gives it). The new file
  // gets the permission bits of mode (0666 minus the umask when mode is -1).
  // Nothing is touched before Open.
  AtomicFile(std::string target, mode_t mode);
  // Removes the temporary file unless Commit succeeded.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file beside the target; false when that fails
  // (for example when the folder does not exist).
  bool Open();
  // Writes all bytes; false on any failure (a full disk among them).
  bool Write(const void* data, size_t count);
  // Flushes, renames over the target and flushes the folder entry.
  bool Commit();
  // After a step gave false: its errno (ENOSPC for a full disk, EACCES, ...).
  int Error() const { return error_; }

  static constexpr mode_t kDefaultMode = static_cast<mode_t>(-1);

 private:
  std::string target_;
  std::string temp_;
  mode_t mode_;
  int fd_ = -1;
  bool committed_ = false;
  int error_ = 0;
};

// Removes what AtomicFile writers of this program left in the folder (a
// path on disk) when they were killed before their rename: the regular files
// whose names have the temporary files' own pattern (".name.PID.N.HEX.tmp")
// and whose writer is gone (no such process, or this process, which at start
// writes nothing yet). Nothing else is touched: not other hidden files, not
// folders or links, not sub-folders, and not a folder that is itself a link.
// Gives the number of files removed.
int RemoveAbandonedTemporaryFiles(const std::string& folder);

// Replaces the file at target (a path on disk) with data; see AtomicFile.
// On failure *error (when given) receives the failing step's errno.
bool ReplaceFileContents(const std::string& target, const std::string& data, mode_t mode, int* error = nullptr);

}  // namespace platform
