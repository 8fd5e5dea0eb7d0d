#include "platform/StringList.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "platform/Exception.h"

namespace platform {
namespace {

// What a file that is not a regular one is, for the message.
const char* FileKind(mode_t mode) {
  if (S_ISCHR(mode)) return "символьное устройство";
  if (S_ISBLK(mode)) return "блочное устройство";
  if (S_ISFIFO(mode)) return "именованный канал (FIFO)";
  if (S_ISSOCK(mode)) return "сокет";
  if (S_ISDIR(mode)) return "каталог";
  return "особый файл";
}

[[noreturn]] void RefuseSpecialFile(const std::string& path, mode_t mode) {
  throw EFileError("Не могу прочитать файл <" + path + ">: это " + FileKind(mode) +
                   ", а не обычный файл");
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

[[noreturn]] void RefuseLargeFile(const std::string& path, std::uint64_t size,
                                  std::uint64_t maxBytes) {
  throw EFileError("Не могу прочитать файл <" + path + ">: в нём " + std::to_string(size) +
                   " байт, больше предела " + std::to_string(maxBytes) +
                   " байт (TANKLOAD_MAX_TEXT_BYTES)");
}

}  // namespace

std::uint64_t MaxTextFileBytes() {
  return LimitFromEnvironment("TANKLOAD_MAX_TEXT_BYTES", kDefaultMaxTextFileBytes);
}

std::string ReadRegularFile(const std::string& path, std::uint64_t maxBytes) {
  struct stat st {};
  // A socket cannot be opened at all and a FIFO would block: look before opening.
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) RefuseSpecialFile(path, st.st_mode);
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.get() < 0) {
    throw EFileError("Cannot open file '" + path + "': " + std::strerror(errno));
  }
  if (::fstat(file.get(), &st) != 0) {
    throw EFileError("Cannot read file '" + path + "': " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) RefuseSpecialFile(path, st.st_mode);
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > maxBytes) RefuseLargeFile(path, size, maxBytes);

  std::string bytes;
  // The size is a hint only: the file may change while it is read.
  bytes.reserve(static_cast<std::size_t>(size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EFileError("Cannot read file '" + path + "': " + std::strerror(errno));
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > maxBytes) RefuseLargeFile(path, bytes.size(), maxBytes);
  }
  return bytes;
}

std::size_t SplitLines(std::string_view text, std::vector<std::string>& out) {
  const std::size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  std::size_t count = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t stop = pos;
    while (stop < text.size() && text[stop] != '\r' && text[stop] != '\n') ++stop;
    const std::string_view piece = text.substr(pos, stop - pos);
    if (count < out.size()) {
      out[count].assign(piece);  // keeps the string's buffer
    } else {
      out.emplace_back(piece);
    }
    ++count;
    pos = stop;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
  }
  out.resize(count);
  return count;
}

}  // namespace platform

void TStringList::SetText(std::string_view text) { platform::SplitLines(text, items_); }

std::string TStringList::Text(std::string_view lineBreak) const {
  std::string out;
  for (const std::string& item : items_) {
    out += item;
    out += lineBreak;
  }
  return out;
}

void TStringList::LoadFromFile(const std::string& path) {
  const std::string bytes = platform::ReadRegularFile(path, platform::MaxTextFileBytes());
  platform::TextDecoding decoding;
  const std::string text = platform::DecodeText(bytes, decoding, path);
  SetText(text);
  decoding_ = decoding;
}
