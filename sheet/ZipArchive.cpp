#include "sheet/ZipArchive.h"

#include <zip.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "sheet/Workbook.h"

namespace sheet {

namespace {

constexpr std::size_t kChunk = 256 * 1024;

std::string ZipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

// Members from this size on are decompressed by a second thread.
constexpr std::uint64_t kPipelineFrom = 1u << 20;
// Chunks under way between the two threads.
constexpr std::size_t kPipelineDepth = 4;

struct FileCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

// Reads the next chunk of `member` into `buffer`: its size, 0 at the end. Raises
// WorkbookError for damaged data and for more than `limit` bytes in all (`total`).
std::size_t ReadChunk(zip_file_t* file, const std::string& member, std::uint64_t limit,
                      std::vector<char>& buffer, std::uint64_t& total) {
  const zip_int64_t n = zip_fread(file, buffer.data(), buffer.size());
  if (n < 0) {
    throw WorkbookError("the part " + member +
                        " is damaged: " + zip_error_strerror(zip_file_get_error(file)));
  }
  total += static_cast<std::uint64_t>(n);
  // The size in the directory is only a claim: count what really comes out.
  if (total > limit) {
    throw WorkbookError("the part " + member + " expands to more than the limit of " +
                        std::to_string(limit) + " bytes");
  }
  return static_cast<std::size_t>(n);
}

// Decompresses on a second thread into a few buffers that this thread hands to `chunk`
// in order. An error of the decompression comes after the chunks before it, as it would
// without the thread; an exception from `chunk` stops the other thread and goes on.
// False, with nothing read, when no thread can be started.
bool ReadPipelined(zip_file_t* file, const std::string& member, std::uint64_t limit,
                   const ZipArchive::ChunkFn& chunk) {
  struct Filled {
    std::vector<char> buffer;
    std::size_t size;
  };
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Filled> filled;
  std::vector<std::vector<char>> free(kPipelineDepth, std::vector<char>(kChunk));
  bool finished = false;
  bool stop = false;
  std::exception_ptr error;

  std::thread reader;
  try {
    reader = std::thread([&] {
      std::uint64_t total = 0;
      for (;;) {
        std::vector<char> buffer;
        {
          std::unique_lock lock(mutex);
          changed.wait(lock, [&] { return stop || !free.empty(); });
          if (stop) break;
          buffer = std::move(free.back());
          free.pop_back();
        }
        std::size_t n = 0;
        std::exception_ptr failure;
        try {
          n = ReadChunk(file, member, limit, buffer, total);
        } catch (...) {
          failure = std::current_exception();
        }
        std::lock_guard lock(mutex);
        if (failure || n == 0) {
          error = failure;
          finished = true;
          changed.notify_all();
          break;
        }
        filled.push_back({std::move(buffer), n});
        changed.notify_all();
      }
    });
  } catch (const std::system_error&) {
    return false;
  }
  const auto stopReader = [&] {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    changed.notify_all();
    reader.join();
  };

  for (;;) {
    Filled next;
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return finished || !filled.empty(); });
      if (filled.empty()) break;
      next = std::move(filled.front());
      filled.pop_front();
    }
    try {
      chunk(next.buffer.data(), next.size);
    } catch (...) {
      stopReader();
      throw;
    }
    {
      std::lock_guard lock(mutex);
      free.push_back(std::move(next.buffer));
    }
    changed.notify_all();
  }
  reader.join();
  if (error) std::rethrow_exception(error);
  return true;
}

}  // namespace

ZipArchive::ZipArchive(const std::string& path) {
  int code = 0;
  archive_ = zip_open(path.c_str(), ZIP_RDONLY, &code);
  if (archive_ == nullptr) {
    if (code == ZIP_ER_NOENT || code == ZIP_ER_OPEN || code == ZIP_ER_READ) {
      throw WorkbookError("cannot read the file: " + ZipErrorText(code));
    }
    throw WorkbookError("the file is not a zip archive or is damaged: " + ZipErrorText(code));
  }
}

ZipArchive::~ZipArchive() {
  if (archive_ != nullptr) zip_discard(archive_);
}

std::optional<std::uint64_t> ZipArchive::Find(std::string_view name) const {
  const std::string key(name);
  const zip_int64_t index = zip_name_locate(archive_, key.c_str(), ZIP_FL_NOCASE);
  if (index < 0) return std::nullopt;
  return static_cast<std::uint64_t>(index);
}

void ZipArchive::Read(std::string_view name, std::uint64_t limit, const ChunkFn& chunk) const {
  const std::string member(name);
  const auto index = Find(name);
  if (!index) throw WorkbookError("the part " + member + " is missing from the archive");

  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(archive_, *index, 0, &stat) == 0) {
    if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE) {
      throw WorkbookError("the part " + member + " is encrypted");
    }
    if ((stat.valid & ZIP_STAT_SIZE) && stat.size > limit) {
      throw WorkbookError("the part " + member + " expands to " + std::to_string(stat.size) +
                          " bytes, more than the limit of " + std::to_string(limit) + " bytes");
    }
  }

  std::unique_ptr<zip_file_t, FileCloser> file(zip_fopen_index(archive_, *index, 0));
  if (!file) {
    throw WorkbookError("the part " + member +
                        " cannot be read: " + zip_error_strerror(zip_get_error(archive_)));
  }
  // A large member is decompressed by a second thread while this one handles the chunks
  // before, which takes the decompression off the time of a conversion on a machine with
  // a core to spare. Small members are not worth a thread.
  const bool large = (stat.valid & ZIP_STAT_SIZE) != 0 && stat.size >= kPipelineFrom;
  if (large && ReadPipelined(file.get(), member, limit, chunk)) return;
  std::vector<char> buffer(kChunk);
  std::uint64_t total = 0;
  for (;;) {
    const std::size_t n = ReadChunk(file.get(), member, limit, buffer, total);
    if (n == 0) break;
    chunk(buffer.data(), n);
  }
}

std::string ZipArchive::ReadAll(std::string_view name, std::uint64_t limit) const {
  std::string text;
  Read(name, limit, [&](const char* data, std::size_t size) { text.append(data, size); });
  return text;
}

}  // namespace sheet
