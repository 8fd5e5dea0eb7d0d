#pragma once
// Small file services over POSIX: existence checks and a file replaced as a whole through
// a temporary file beside it.

#include <sys/types.h>

#include <string>
#include <string_view>

namespace platform {

// True when `path` names something that is not a directory (a file, or a device or FIFO
// the caller may still refuse); symbolic links are followed.
bool FileExists(const std::string& path);

// True when `path` names a regular file (after following symbolic links).
bool IsRegularFile(const std::string& path);

// The mode a new file gets: 0666 less the process's umask.
mode_t NewFileMode();

// A file replaced as a whole. The bytes go to a temporary file in the target's directory
// (a hidden name made from the target's); Commit() gives it its mode, forces it to disk
// and renames it over the target, so that a reader sees the old file or the new one and
// never a part. Without a successful Commit() the temporary file is removed. Errors are
// recorded as errno values rather than thrown, so that the caller words its own message
// and writers inside callbacks can carry on; once an error is recorded, writing stops.
class AtomicFile {
 public:
  // Creates the temporary file; Error() tells whether that worked.
  explicit AtomicFile(std::string target);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void Write(std::string_view bytes);
  // Empties the temporary file to start over.
  void Rewind();
  // Makes the written bytes the target's content with `mode`. False on failure; the
  // target is then untouched.
  bool Commit(mode_t mode = NewFileMode());

  // The errno of the first failure, or 0.
  int Error() const { return error_; }
  const std::string& Target() const { return target_; }
  // The temporary file's path while it exists (empty when it could not be created or
  // has become the target), for a caller that registers it for removal on signals.
  const std::string& TempName() const { return temp_; }

 private:
  std::string target_;
  std::string temp_;
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace platform
