#pragma once
// Temporary files removed when the process is interrupted. A file registered here is
// unlinked by a handler of SIGINT and SIGTERM, which then lets the signal take its
// ordinary course: the handler that was in place before is called, or, when that was the
// default, the default action is restored and the signal raised again, so the process
// still ends by the signal. A signal that was ignored when the first file was registered
// stays ignored and gets no handler.
//
// The registry is a fixed table of paths that the handler reads without locks or
// allocation; registering and unregistering may happen on any thread.

#include <cstddef>
#include <string>

namespace platform {

// Room in the registry: files registered at the same time.
inline constexpr int kMaxTempFiles = 32;
// Longest path the registry keeps, in bytes.
inline constexpr std::size_t kMaxTempFilePath = 4095;

// Registers `path` for removal on SIGINT and SIGTERM and installs the handlers on the
// first call. Returns the entry, or -1 when the table is full or the path too long (the
// file is then simply not removed on a signal).
int RegisterTempFile(const std::string& path);

// Forgets the entry (-1 is ignored). Call it before the file is renamed or removed.
void UnregisterTempFile(int entry);

// A registration for the lifetime of the object.
class ScopedTempFile {
 public:
  ScopedTempFile() = default;
  explicit ScopedTempFile(const std::string& path) : entry_(RegisterTempFile(path)) {}
  ~ScopedTempFile() { Release(); }
  ScopedTempFile(const ScopedTempFile&) = delete;
  ScopedTempFile& operator=(const ScopedTempFile&) = delete;

  void Reset(const std::string& path) {
    Release();
    entry_ = RegisterTempFile(path);
  }
  void Release() {
    UnregisterTempFile(entry_);
    entry_ = -1;
  }

 private:
  int entry_ = -1;
};

}  // namespace platform
