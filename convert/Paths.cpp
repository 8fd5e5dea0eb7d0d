// Paths and temporary files.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "convert/Internal.h"
#include "convert/Smallfun.h"
#include "platform/Ascii.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "platform/Text.h"

const std::string TempFilePrefix = "ZNT";
const std::string TempFileExtension = "TMP";

namespace convert {
namespace {

// Creates `path` only if no file of that name exists; the file stays empty and closed.
bool CreateNewFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::string Hex4(unsigned value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", value & 0xFFFFu);
  return buf;
}

}  // namespace
}  // namespace convert

std::string DirAdds(const std::string& base, const std::string& sub) {
  std::string b(platform::TrimView(base));
  if (b.empty() || b.back() != '/') b.push_back('/');
  if (sub.empty()) return b;
  std::string_view s = platform::TrimView(sub);
  // A drive letter of a Windows path is dropped: "C:/Data" joins as "Data".
  const std::size_t colon = s.find(':');
  if (colon != std::string_view::npos) s = s.substr(colon + 1);
  if (!s.empty() && s.front() == '/') s.remove_prefix(1);
  std::string out = b;
  out += s;
  if (out.back() != '/') out.push_back('/');
  return out;
}

std::string ZnGetPath(int code) {
  switch (code) {
    case 3: {
      const char* tmp = std::getenv("TMPDIR");
      std::string dir = (tmp && *tmp) ? tmp : "/tmp/";
      if (dir.back() != '/') dir.push_back('/');
      return dir;
    }
    case 4: {
      char* cwd = ::getcwd(nullptr, 0);
      if (cwd == nullptr) return std::string();
      std::string dir(cwd);
      std::free(cwd);
      return dir;
    }
    default:  // 1 and 2, the Windows and system directories, have no counterpart here
      return std::string();
  }
}

std::string GenerateTempFileName(const std::string& prefix) {
  const std::string dir = ZnGetPath(3);
  if (dir.empty()) return std::string();
  // At most the first three characters of the prefix, then a hexadecimal number.
  std::size_t pos = 0;
  for (int i = 0; i < 3 && pos < prefix.size(); ++i) platform::DecodeUtf8(prefix, pos);
  const std::string head = dir + prefix.substr(0, pos);
  const auto start =
      static_cast<unsigned>((static_cast<std::uint64_t>(std::fabs(platform::Now()) * 8640000.0) ^
                             static_cast<std::uint64_t>(::getpid())) &
                            0xFFFFu);
  for (unsigned i = 0; i < 0x10000u; ++i) {
    const unsigned n = (start + i) & 0xFFFFu;
    if (n == 0) continue;
    const std::string candidate = head + convert::Hex4(n) + ".TMP";
    if (convert::CreateNewFile(candidate)) return candidate;
    if (errno != EEXIST) return std::string();  // the directory itself refuses
  }
  return std::string();
}

std::string ZnGenerateTempFileName(const std::string& prefix, const std::string& extension) {
  const std::string dir = DirAdds(ZnGetPath(3), std::string());
  // "." + the trimmed extension, then what follows its last "/", "\", "." or ":".
  const std::string_view trimmed = platform::TrimView(extension);
  const std::size_t cut = trimmed.find_last_of("/\\.:");
  std::string ext(cut == std::string_view::npos ? trimmed : trimmed.substr(cut + 1));
  if (ext.empty()) ext = "TMP";

  // Hundredths of a second of the local time: its low 16 bits are the seed.
  const double ticks = std::trunc(platform::Now() * 8640000.0);
  const auto seed = static_cast<unsigned>(static_cast<std::uint64_t>(ticks) & 0xFFFFu);
  for (unsigned counter = (seed + 1) & 0xFFFFu; counter != seed;
       counter = (counter + 1) & 0xFFFFu) {
    const std::string candidate = dir + prefix + convert::Hex4(counter) + "." + ext;
    // Creation fails when the file exists: no other process can slip in between a test
    // and the creation, and no existing file is truncated.
    if (convert::CreateNewFile(candidate)) return candidate;
  }
  throw Exception("Не могу создать временный файл");
}
