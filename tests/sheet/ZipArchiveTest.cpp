// Reading zip members: a large member, which is decompressed by a second thread, must
// arrive whole and in order, stop cleanly when the receiver stops, and report damage after
// the data before it, as a small member does.

#include "sheet/ZipArchive.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <random>
#include <string>

#include "SheetTestSupport.h"
#include "sheet/Workbook.h"

namespace {

using sheet_test::TempDir;

// Text of `size` bytes that compresses a little (words from a small list).
std::string Words(std::size_t size, unsigned seed) {
  static const char* const kWords[] = {"Цистерна ", "топлива ", "12.5 ", "ЛБ ", "\n", "ПБ "};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < size) text += kWords[random() % 6];
  text.resize(size);
  return text;
}

void WriteZip(const std::string& path, const std::string& name, const std::string& content,
              bool stored) {
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(zip, nullptr);
  zip_source_t* source = zip_source_buffer(zip, content.data(), content.size(), 0);
  ASSERT_NE(source, nullptr);
  const zip_int64_t index = zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE);
  ASSERT_GE(index, 0);
  if (stored) {
    ASSERT_EQ(zip_set_file_compression(zip, index, ZIP_CM_STORE, 0), 0);
  }
  ASSERT_EQ(zip_close(zip), 0);
}

TEST(ZipArchive, MembersArriveWholeAndInOrder) {
  struct Case {
    const char* name;
    std::size_t size;
    bool stored;
  };
  const Case cases[] = {
      {"small, deflated", 1000, false},
      {"large, deflated", 2u << 20, false},
      {"large, stored", (3u << 20) + 17, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string content = Words(c.size, 1);
    WriteZip(dir.File("a.zip"), "part.xml", content, c.stored);
    sheet::ZipArchive zip(dir.File("a.zip"));
    EXPECT_EQ(zip.ReadAll("part.xml", 64u << 20), content);
    // Again from the same archive.
    EXPECT_EQ(zip.ReadAll("part.xml", 64u << 20), content);
  }
}

TEST(ZipArchive, ReceiverStoppingEndsTheRead) {
  TempDir dir;
  const std::string content = Words(3u << 20, 2);
  WriteZip(dir.File("a.zip"), "part.xml", content, false);
  sheet::ZipArchive zip(dir.File("a.zip"));
  struct Enough {};
  for (const std::size_t stopAfter : {std::size_t{1}, std::size_t{2 << 20}}) {
    SCOPED_TRACE(stopAfter);
    std::string received;
    EXPECT_THROW(zip.Read("part.xml", 64u << 20,
                          [&](const char* data, std::size_t size) {
                            received.append(data, size);
                            if (received.size() >= stopAfter) throw Enough();
                          }),
                 Enough);
    EXPECT_EQ(received, content.substr(0, received.size()));
  }
  EXPECT_EQ(zip.ReadAll("part.xml", 64u << 20), content);
}

TEST(ZipArchive, DamageIsReportedAfterTheDataBeforeIt) {
  TempDir dir;
  const std::string content = Words(3u << 20, 3);
  const std::string path = dir.File("a.zip");
  WriteZip(path, "part.xml", content, true);
  // A byte of the stored data changed: the checksum at the end no longer matches.
  std::string bytes = sheet_test::ReadFile(path);
  const std::size_t at = bytes.find(content.substr(1u << 20, 64));
  ASSERT_NE(at, std::string::npos);
  bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
  sheet_test::WriteFile(path, bytes);

  sheet::ZipArchive zip(path);
  std::size_t received = 0;
  try {
    zip.Read("part.xml", 64u << 20, [&](const char*, std::size_t size) { received += size; });
    ADD_FAILURE() << "no error";
  } catch (const sheet::WorkbookError& e) {
    EXPECT_NE(std::string(e.what()).find("is damaged"), std::string::npos) << e.what();
  }
  EXPECT_GT(received, 1u << 20);
}

}  // namespace
