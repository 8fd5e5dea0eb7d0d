#include "sheet/ZipArchive.h"

#include <zip.h>

#include <memory>
#include <vector>

#include "sheet/Workbook.h"

namespace sheet {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

std::string ZipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

struct FileCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

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
  std::vector<char> buffer(kChunk);
  std::uint64_t total = 0;
  for (;;) {
    const zip_int64_t n = zip_fread(file.get(), buffer.data(), buffer.size());
    if (n < 0) {
      throw WorkbookError("the part " + member +
                          " is damaged: " + zip_error_strerror(zip_file_get_error(file.get())));
    }
    if (n == 0) break;
    total += static_cast<std::uint64_t>(n);
    // The size in the directory is only a claim: count what really comes out.
    if (total > limit) {
      throw WorkbookError("the part " + member + " expands to more than the limit of " +
                          std::to_string(limit) + " bytes");
    }
    chunk(buffer.data(), static_cast<std::size_t>(n));
  }
}

std::string ZipArchive::ReadAll(std::string_view name, std::uint64_t limit) const {
  std::string text;
  Read(name, limit, [&](const char* data, std::size_t size) { text.append(data, size); });
  return text;
}

}  // namespace sheet
