#include "sheet/CompoundFile.h"

#include "platform/Text.h"
#include "sheet/Workbook.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sheet::cfb {
namespace {

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kHeaderDifatEntries = 109;
constexpr std::size_t kDirEntrySize = 128;

[[noreturn]] void Damaged(const std::string& why) {
  throw WorkbookError("damaged compound file: " + why);
}

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Directory names are UTF-16LE; unpaired surrogates become U+FFFD.
std::string NameToUtf8(const std::uint8_t* p, std::size_t units) {
  std::u16string name(units, u'\0');
  for (std::size_t i = 0; i < units; ++i) name[i] = static_cast<char16_t>(U16(p + 2 * i));
  return platform::Utf16ToUtf8(name);
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

class FileSource final : public Source {
 public:
  explicit FileSource(const std::string& path) {
    // Non-blocking, so that a named pipe given as a workbook does not wait for a writer.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
      throw WorkbookError("cannot open \"" + path + "\": " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd_);
      throw WorkbookError("\"" + path + "\" is not a regular file");
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
  }
  ~FileSource() override { ::close(fd_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  std::uint64_t Size() const override { return size_; }

  std::size_t ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) const override {
    std::size_t done = 0;
    while (done < n) {
      ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
      if (got < 0) {
        if (errno == EINTR) continue;
        throw WorkbookError(std::string("read error: ") + std::strerror(errno));
      }
      if (got == 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

class MemorySource final : public Source {
 public:
  explicit MemorySource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  std::size_t ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) const override {
    if (offset >= bytes_.size()) return 0;
    std::size_t avail = std::min<std::uint64_t>(n, bytes_.size() - offset);
    std::memcpy(out, bytes_.data() + offset, avail);
    return avail;
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace

std::shared_ptr<const Source> OpenFileSource(const std::string& path) {
  return std::make_shared<FileSource>(path);
}

std::shared_ptr<const Source> MakeMemorySource(std::vector<std::uint8_t> bytes) {
  return std::make_shared<MemorySource>(std::move(bytes));
}

bool HasSignature(const std::uint8_t* data, std::size_t size) {
  return size >= sizeof kSignature && std::memcmp(data, kSignature, sizeof kSignature) == 0;
}

void StreamReader::Read(std::uint64_t pos, std::uint8_t* out, std::size_t n) const {
  if (pos > size_ || n > size_ - pos) {
    throw WorkbookError("damaged compound file: read past the end of a stream");
  }
  if (mini_) {
    if (n > 0) std::memcpy(out, inMemory_.data() + pos, n);
    return;
  }
  const std::uint64_t sectorSize = std::uint64_t{1} << sectorShift_;
  while (n > 0) {
    std::size_t index = static_cast<std::size_t>(pos >> sectorShift_);
    std::uint64_t within = pos & (sectorSize - 1);
    // Extend over sectors that follow each other in the file: one read per run.
    std::size_t last = index;
    std::uint64_t runBytes = sectorSize - within;
    while (runBytes < n && last + 1 < chain_.size() && chain_[last + 1] == chain_[last] + 1) {
      ++last;
      runBytes += sectorSize;
    }
    std::size_t len = static_cast<std::size_t>(std::min<std::uint64_t>(n, runBytes));
    std::uint64_t offset = ((std::uint64_t{chain_[index]} + 1) << sectorShift_) + within;
    if (source_->ReadAt(offset, out, len) != len) {
      throw WorkbookError("damaged compound file: the file is truncated");
    }
    out += len;
    pos += len;
    n -= len;
  }
}

std::vector<std::uint8_t> StreamReader::ReadAll() const {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(size_));
  Read(0, out.data(), out.size());
  return out;
}

CompoundFile::CompoundFile(std::shared_ptr<const Source> source) : source_(std::move(source)) {
  std::uint8_t header[kHeaderSize];
  const std::uint64_t fileSize = source_->Size();
  if (source_->ReadAt(0, header, kHeaderSize) != kHeaderSize) {
    if (HasSignature(header, std::min<std::uint64_t>(fileSize, kHeaderSize))) {
      Damaged("the file is truncated inside its header");
    }
    throw WorkbookError("not a compound file (too short)");
  }
  if (!HasSignature(header, kHeaderSize)) {
    throw WorkbookError("not a compound file (no compound file signature)");
  }
  if (U16(header + 0x1C) != 0xFFFE) Damaged("unknown byte order mark");
  sectorShift_ = U16(header + 0x1E);
  if (sectorShift_ != 9 && sectorShift_ != 12) {
    Damaged("unsupported sector size 2^" + std::to_string(sectorShift_));
  }
  miniShift_ = U16(header + 0x20);
  if (miniShift_ != 6) Damaged("unsupported mini sector size 2^" + std::to_string(miniShift_));
  miniCutoff_ = U32(header + 0x38);
  const std::uint32_t sectorSize = 1u << sectorShift_;
  const std::uint32_t perSector = sectorSize / 4;
  sectorCount_ = fileSize > sectorSize ? (fileSize - sectorSize + sectorSize - 1) / sectorSize : 0;

  // The sector numbers of the allocation table: 109 in the header, the rest in a chain of
  // index sectors whose last entry links to the next one.
  const std::uint32_t fatSectors = U32(header + 0x2C);
  if (fatSectors > sectorCount_) {
    Damaged("the allocation table claims " + std::to_string(fatSectors) +
            " sectors, more than the file holds");
  }
  std::vector<std::uint32_t> fatLocations;
  fatLocations.reserve(fatSectors);
  for (std::size_t i = 0; i < kHeaderDifatEntries && fatLocations.size() < fatSectors; ++i) {
    fatLocations.push_back(U32(header + 0x4C + 4 * i));
  }
  std::uint32_t difat = U32(header + 0x44);
  std::vector<bool> difatSeen;
  std::vector<std::uint8_t> sector(sectorSize);
  while (fatLocations.size() < fatSectors) {
    if (difat > kMaxRegularSector || difat >= sectorCount_) {
      Damaged("the allocation table index ends early or points outside the file");
    }
    if (difatSeen.empty()) difatSeen.assign(static_cast<std::size_t>(sectorCount_), false);
    if (difatSeen[difat]) Damaged("the allocation table index loops");
    difatSeen[difat] = true;
    if (source_->ReadAt((std::uint64_t{difat} + 1) << sectorShift_, sector.data(), sectorSize) !=
        sectorSize) {
      Damaged("the file is truncated inside the allocation table index");
    }
    for (std::uint32_t i = 0; i + 1 < perSector && fatLocations.size() < fatSectors; ++i) {
      fatLocations.push_back(U32(sector.data() + 4 * i));
    }
    difat = U32(sector.data() + 4 * (perSector - 1));
  }

  fat_.resize(std::size_t{fatSectors} * perSector);
  for (std::size_t i = 0; i < fatLocations.size(); ++i) {
    std::uint32_t at = fatLocations[i];
    if (at > kMaxRegularSector || at >= sectorCount_) {
      Damaged("an allocation table sector lies outside the file");
    }
    if (source_->ReadAt((std::uint64_t{at} + 1) << sectorShift_, sector.data(), sectorSize) !=
        sectorSize) {
      Damaged("the file is truncated inside the allocation table");
    }
    for (std::uint32_t k = 0; k < perSector; ++k) {
      fat_[i * perSector + k] = U32(sector.data() + 4 * k);
    }
  }

  // Directory: 128-byte entries in the chain that starts at the header's sector.
  std::vector<std::uint32_t> dirChain =
      Chain(U32(header + 0x30), fat_, sectorCount_, sectorCount_, "directory");
  if (dirChain.empty()) Damaged("the directory is empty");
  const std::size_t perDirSector = sectorSize / kDirEntrySize;
  entries_.reserve(dirChain.size() * perDirSector);
  for (std::uint32_t at : dirChain) {
    if (source_->ReadAt((std::uint64_t{at} + 1) << sectorShift_, sector.data(), sectorSize) !=
        sectorSize) {
      Damaged("the file is truncated inside the directory");
    }
    for (std::size_t k = 0; k < perDirSector; ++k) {
      const std::uint8_t* e = sector.data() + k * kDirEntrySize;
      DirEntry entry;
      std::size_t nameBytes = std::min<std::size_t>(U16(e + 0x40), 64);
      entry.name = NameToUtf8(e, nameBytes >= 2 ? nameBytes / 2 - 1 : 0);
      std::uint8_t type = e[0x42];
      entry.type =
          (type == 1 || type == 2 || type == 5) ? static_cast<EntryType>(type) : EntryType::Unused;
      entry.left = U32(e + 0x44);
      entry.right = U32(e + 0x48);
      entry.child = U32(e + 0x4C);
      entry.start = U32(e + 0x74);
      entry.size = U32(e + 0x78);
      // With 512-byte sectors the high half of the size is not used; some writers leave
      // garbage there.
      if (sectorShift_ == 12) entry.size |= std::uint64_t{U32(e + 0x7C)} << 32;
      entries_.push_back(std::move(entry));
    }
  }
  if (entries_.front().type != EntryType::Root) Damaged("the directory has no root entry");

  std::uint32_t miniFatStart = U32(header + 0x3C);
  if (miniFatStart != kEndOfChain && miniFatStart != kNoStream) {
    std::vector<std::uint32_t> miniFatChain =
        Chain(miniFatStart, fat_, sectorCount_, sectorCount_, "mini allocation table");
    miniFat_.resize(miniFatChain.size() * perSector);
    for (std::size_t i = 0; i < miniFatChain.size(); ++i) {
      if (source_->ReadAt((std::uint64_t{miniFatChain[i]} + 1) << sectorShift_, sector.data(),
                          sectorSize) != sectorSize) {
        Damaged("the file is truncated inside the mini allocation table");
      }
      for (std::uint32_t k = 0; k < perSector; ++k) {
        miniFat_[i * perSector + k] = U32(sector.data() + 4 * k);
      }
    }
  }
}

std::vector<std::uint32_t> CompoundFile::Chain(std::uint32_t start,
                                               const std::vector<std::uint32_t>& table,
                                               std::uint64_t tableLimit, std::uint64_t maxLength,
                                               const char* what) const {
  std::vector<std::uint32_t> out;
  std::vector<bool> seen;
  std::uint32_t at = start;
  while (at != kEndOfChain && out.size() < maxLength) {
    if (at > kMaxRegularSector) {
      Damaged(std::string("the sector chain of the ") + what + " is broken");
    }
    if (at >= table.size() || at >= tableLimit) {
      Damaged(std::string("the sector chain of the ") + what + " points outside the file");
    }
    if (seen.empty()) seen.assign(std::min<std::uint64_t>(table.size(), tableLimit), false);
    if (seen[at]) {
      Damaged(std::string("the sector chain of the ") + what + " loops (sector " +
              std::to_string(at) + " is visited twice)");
    }
    seen[at] = true;
    out.push_back(at);
    at = table[at];
  }
  return out;
}

std::vector<std::size_t> CompoundFile::RootChildren() const {
  std::vector<std::size_t> out;
  std::vector<bool> seen(entries_.size(), false);
  std::vector<std::uint32_t> pending{entries_.front().child};
  while (!pending.empty()) {
    std::uint32_t at = pending.back();
    pending.pop_back();
    if (at == kNoStream) continue;
    if (at >= entries_.size()) Damaged("a directory entry links outside the directory");
    if (seen[at] || at == 0) Damaged("the directory tree loops");
    seen[at] = true;
    out.push_back(at);
    pending.push_back(entries_[at].left);
    pending.push_back(entries_[at].right);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::optional<std::size_t> CompoundFile::FindInRoot(std::string_view name) const {
  for (std::size_t at : RootChildren()) {
    if (entries_[at].type != EntryType::Unused && EqualsIgnoreAsciiCase(entries_[at].name, name)) {
      return at;
    }
  }
  return std::nullopt;
}

std::vector<std::string> CompoundFile::RootNames() const {
  std::vector<std::string> names;
  for (std::size_t at : RootChildren()) {
    if (entries_[at].type != EntryType::Unused) names.push_back(entries_[at].name);
  }
  return names;
}

StreamReader CompoundFile::OpenStream(std::size_t index) const {
  if (index >= entries_.size() || entries_[index].type != EntryType::Stream) {
    throw WorkbookError("compound file: entry " + std::to_string(index) + " is not a stream");
  }
  const DirEntry& entry = entries_[index];
  const std::string what = "stream \"" + entry.name + "\"";
  StreamReader reader;
  reader.source_ = source_;
  reader.sectorShift_ = sectorShift_;
  reader.size_ = entry.size;
  if (entry.size == 0) return reader;

  if (entry.size >= miniCutoff_) {
    std::uint64_t needed = (entry.size + SectorSize() - 1) >> sectorShift_;
    if (needed > sectorCount_) Damaged("the " + what + " is larger than the file");
    reader.chain_ = Chain(entry.start, fat_, sectorCount_, needed, what.c_str());
    if (reader.chain_.size() < needed) {
      Damaged("the sector chain of the " + what + " ends before the stream's size");
    }
    return reader;
  }

  // A short stream lives in the mini stream, which is held by the root entry as a regular
  // stream of 64-byte mini sectors.
  if (entry.size > entries_.front().size) {
    Damaged("the " + what + " is larger than the mini stream that holds it");
  }
  StreamReader container;
  container.source_ = source_;
  container.sectorShift_ = sectorShift_;
  container.size_ = entries_.front().size;
  std::uint64_t containerSectors = (container.size_ + SectorSize() - 1) >> sectorShift_;
  if (containerSectors > sectorCount_) Damaged("the mini stream is larger than the file");
  container.chain_ =
      Chain(entries_.front().start, fat_, sectorCount_, containerSectors, "mini stream");
  if (container.chain_.size() < containerSectors) {
    Damaged("the sector chain of the mini stream ends before its size");
  }
  const std::uint32_t miniSize = 1u << miniShift_;
  std::uint64_t miniSectors = (container.size_ + miniSize - 1) >> miniShift_;
  std::uint64_t needed = (entry.size + miniSize - 1) >> miniShift_;
  std::vector<std::uint32_t> miniChain =
      Chain(entry.start, miniFat_, miniSectors, needed, what.c_str());
  if (miniChain.size() < needed) {
    Damaged("the sector chain of the " + what + " ends before the stream's size");
  }
  reader.mini_ = true;
  reader.inMemory_.resize(static_cast<std::size_t>(entry.size));
  for (std::size_t i = 0; i < miniChain.size(); ++i) {
    std::uint64_t offset = std::uint64_t{miniChain[i]} << miniShift_;
    std::size_t len = static_cast<std::size_t>(
        std::min<std::uint64_t>(miniSize, entry.size - std::uint64_t{i} * miniSize));
    if (offset + len > container.size_) Damaged("a mini sector lies outside the mini stream");
    container.Read(offset, reader.inMemory_.data() + i * miniSize, len);
  }
  return reader;
}

}  // namespace sheet::cfb
