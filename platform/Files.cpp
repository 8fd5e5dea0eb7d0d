#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

AtomicFile::AtomicFile(std::string target) : target_(std::move(target)) {
  const std::size_t slash = target_.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  temp_ = target_.substr(0, nameStart) + "." + target_.substr(nameStart) + ".XXXXXX";
  fd_ = ::mkstemp(temp_.data());
  if (fd_ < 0) {
    error_ = errno;
    temp_.clear();
  }
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
}

void AtomicFile::Write(std::string_view bytes) {
  std::size_t done = 0;
  while (error_ == 0 && done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno != EINTR) error_ = errno;
    } else if (n == 0) {
      error_ = EIO;
    } else {
      done += static_cast<std::size_t>(n);
    }
  }
}

void AtomicFile::Rewind() {
  if (error_ == 0 && (::lseek(fd_, 0, SEEK_SET) < 0 || ::ftruncate(fd_, 0) != 0)) error_ = errno;
}

bool AtomicFile::Commit(mode_t mode) {
  // mkstemp creates the file for its owner only.
  if (error_ == 0 && (::fchmod(fd_, mode) != 0 || ::fsync(fd_) != 0)) error_ = errno;
  if (fd_ >= 0 && ::close(fd_) != 0 && error_ == 0) error_ = errno;
  fd_ = -1;
  if (error_ == 0 && std::rename(temp_.c_str(), target_.c_str()) != 0) error_ = errno;
  if (error_ != 0) return false;
  temp_.clear();  // it is the target now
  return true;
}

}  // namespace platform
