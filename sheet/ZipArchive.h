#pragma once
// Read access to the members of a zip archive (the container of .xlsx and .ods
// workbooks). Members are decompressed in chunks and counted, so a member whose
// expanded size passes the caller's limit is refused before it can fill memory.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct zip;

namespace sheet {

class ZipArchive {
 public:
  // Opens the archive at `path` read-only. Raises WorkbookError when the file is missing
  // or not a readable zip archive.
  explicit ZipArchive(const std::string& path);
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // Index of the member named `name` (compared without regard to ASCII case, as package
  // part names are), or nothing.
  std::optional<std::uint64_t> Find(std::string_view name) const;
  bool Contains(std::string_view name) const { return Find(name).has_value(); }

  // Streams the decompressed bytes of member `name` to `chunk` in pieces. Raises
  // WorkbookError when the member is missing, encrypted, damaged (bad data or checksum)
  // or expands beyond `limit` bytes.
  using ChunkFn = std::function<void(const char* data, std::size_t size)>;
  void Read(std::string_view name, std::uint64_t limit, const ChunkFn& chunk) const;

  // The whole member as a string, for small parts; same errors as Read.
  std::string ReadAll(std::string_view name, std::uint64_t limit) const;

 private:
  zip* archive_ = nullptr;
};

}  // namespace sheet
