#pragma once
// Reader of the compound file container that Excel 97-2003 workbooks (and other office
// documents of that era) are stored in: a small FAT file system inside one file, with
// 512- or 4096-byte sectors, a directory of named streams and storages, and a mini
// stream for streams shorter than the cutoff (normally 4096 bytes).
//
// Every sector number, chain and size is checked against the file: a chain that visits a
// sector twice, points outside the file or ends before the stream's size is an error
// (sheet::WorkbookError), never a crash or a hang. Streams are read through their sector
// chain on demand; only the allocation tables and the directory are held in memory.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sheet::cfb {

// Random access to the bytes of the container: a file or a buffer in memory.
class Source {
 public:
  virtual ~Source() = default;
  virtual std::uint64_t Size() const = 0;
  // Reads up to `n` bytes at `offset` into `out`; returns how many were read (fewer only
  // at the end of the source).
  virtual std::size_t ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) const = 0;
};

// A regular file, read with pread; raises WorkbookError when it cannot be opened.
std::shared_ptr<const Source> OpenFileSource(const std::string& path);
// A buffer owned by the source.
std::shared_ptr<const Source> MakeMemorySource(std::vector<std::uint8_t> bytes);

// True when the first bytes are the compound file signature.
bool HasSignature(const std::uint8_t* data, std::size_t size);

enum class EntryType : std::uint8_t { Unused = 0, Storage = 1, Stream = 2, Root = 5 };

struct DirEntry {
  std::string name;  // UTF-8
  EntryType type = EntryType::Unused;
  std::uint32_t left = 0xFFFFFFFF;
  std::uint32_t right = 0xFFFFFFFF;
  std::uint32_t child = 0xFFFFFFFF;
  std::uint32_t start = 0;
  std::uint64_t size = 0;
};

class CompoundFile;

// Reads one stream. Positions are stream offsets; reading past the stream's size is an
// error. Large streams are read sector run by sector run from the source; streams in the
// mini stream are short and held in memory.
class StreamReader {
 public:
  std::uint64_t Size() const { return size_; }
  // Copies exactly `n` bytes at `pos` into `out`; raises WorkbookError past the end or
  // when the container is truncated.
  void Read(std::uint64_t pos, std::uint8_t* out, std::size_t n) const;
  // The whole stream (for short streams and tests).
  std::vector<std::uint8_t> ReadAll() const;

 private:
  friend class CompoundFile;
  StreamReader() = default;

  std::shared_ptr<const Source> source_;
  std::uint64_t size_ = 0;
  std::uint32_t sectorShift_ = 9;
  std::vector<std::uint32_t> chain_;    // regular streams: their sectors, in order
  std::vector<std::uint8_t> inMemory_;  // mini streams: the bytes
  bool mini_ = false;
};

class CompoundFile {
 public:
  // Parses header, allocation tables and directory; raises WorkbookError when the source
  // is not a compound file or its structure is corrupt.
  explicit CompoundFile(std::shared_ptr<const Source> source);

  const std::vector<DirEntry>& Entries() const { return entries_; }
  std::uint32_t SectorSize() const { return 1u << sectorShift_; }

  // Index of the stream or storage of that name directly inside the root storage
  // (names compare case-insensitively, as the container does), if any.
  std::optional<std::size_t> FindInRoot(std::string_view name) const;
  // Names of the entries directly inside the root storage, in directory order.
  std::vector<std::string> RootNames() const;

  // A reader of the stream entry at `index`.
  StreamReader OpenStream(std::size_t index) const;

 private:
  std::vector<std::uint32_t> Chain(std::uint32_t start, const std::vector<std::uint32_t>& table,
                                   std::uint64_t tableLimit, std::uint64_t maxLength,
                                   const char* what) const;
  std::vector<std::size_t> RootChildren() const;

  std::shared_ptr<const Source> source_;
  std::uint32_t sectorShift_ = 9;
  std::uint32_t miniShift_ = 6;
  std::uint32_t miniCutoff_ = 4096;
  std::uint64_t sectorCount_ = 0;  // sectors that start inside the file
  std::vector<std::uint32_t> fat_;
  std::vector<std::uint32_t> miniFat_;
  std::vector<DirEntry> entries_;
  StreamReader miniStream_;
};

}  // namespace sheet::cfb
