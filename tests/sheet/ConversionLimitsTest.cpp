// The limits of a conversion through the native engine: crafted workbooks that ask for
// gigabytes of text or millions of nested elements end in one message naming the
// workbook and the limit, leave the old text beside the workbook as it was and no
// temporary file; the limits follow their environment variables; and a conversion
// interrupted by SIGINT or SIGTERM leaves no temporary file either.

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "SheetTestSupport.h"
#include "platform/FormatSettings.h"
#include "sheet/Engine.h"
#include "sheet/Workbook.h"
#include "sheet/Xlsfun.h"

namespace {

using sheet_test::FileNames;
using sheet_test::HostileWorkbooksDir;
using sheet_test::ReadFile;
using sheet_test::RecordingSink;
using sheet_test::ScopedEnv;
using sheet_test::TempDir;
using sheet_test::WriteFile;

constexpr char kOldText[] = "old text\r\n";

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// Characters of the longest cell in a tab-separated text.
std::size_t LongestCell(const std::string& text) {
  std::size_t longest = 0;
  std::size_t current = 0;
  for (const char c : text) {
    if (c == '\t' || c == '\r' || c == '\n') {
      current = 0;
    } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      longest = std::max(longest, ++current);
    }
  }
  return longest;
}
constexpr char kAccessMessage[] = "Ошибка доступа к книге/листу\n";
constexpr char kSaveMessage[] = "Ошибка сохранения содержимого листа <";

class ConversionLimitsTest : public ::testing::Test {
 protected:
  ConversionLimitsTest() { sheet::RegisterNativeEngine(); }

  // Copies `source` beside an old book.txt and converts it; the one message shown, or
  // "" on success.
  std::string Convert(const std::string& source, const std::string& extension) {
    book = dir.File("book." + extension);
    std::filesystem::copy_file(source, book, std::filesystem::copy_options::overwrite_existing);
    WriteFile(text, kOldText);
    sink.messages.clear();
    const std::string result = SaveSheetAsText(book, "", "");
    if (result.empty() && sink.messages.size() == 1) return sink.messages[0];
    EXPECT_EQ(result, text);
    EXPECT_EQ(sink.messages, std::vector<std::string>{});
    return "";
  }

  platform::ScopedFormatSettings us_{platform::UsFormatSettings()};
  TempDir dir;
  RecordingSink sink;
  std::string book;
  const std::string text = dir.File("book.txt");
};

// The crafted workbooks: each ends in one message that names the workbook and the
// limit (by its variable), the old text stays and nothing else is left in the folder.
TEST_F(ConversionLimitsTest, CraftedWorkbooksEndInAClearError) {
  const std::string hostile = HostileWorkbooksDir();
  if (hostile.empty()) GTEST_SKIP() << "python3 could not make the crafted workbooks";
  struct Case {
    const char* file;
    const char* messageStart;
    const char* limit;
    const char* textBytes;  // TANKLOAD_MAX_TEXT_BYTES for the case, nullptr: the default
  } cases[] = {
      // The million-character string is refused as the shared strings are read.
      {"long_shared_string.xlsx", kAccessMessage, "TANKLOAD_MAX_CELL_CHARS", nullptr},
      // 12.8 GB of reused strings: stopped at the limit, before the line that would
      // pass it is written (a smaller limit than the default keeps the test light).
      {"shared_string_reuse.xlsx", kSaveMessage, "TANKLOAD_MAX_TEXT_BYTES", "50000000"},
      // 12.8 GB of a repeated cell: refused before any of it is written.
      {"repeated_cell.ods", kSaveMessage, "TANKLOAD_MAX_TEXT_BYTES", nullptr},
      {"deep_nesting.xlsx", kSaveMessage, "TANKLOAD_MAX_XML_DEPTH", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    std::optional<ScopedEnv> textBytes;
    if (c.textBytes) textBytes.emplace("TANKLOAD_MAX_TEXT_BYTES", c.textBytes);
    const std::string file(c.file);
    const std::string message = Convert(hostile + "/" + file, file.substr(file.rfind('.') + 1));
    EXPECT_EQ(message.rfind(c.messageStart, 0), 0u) << message;
    EXPECT_NE(message.find("The workbook " + book + " goes beyond a limit"), std::string::npos)
        << message;
    EXPECT_NE(message.find(c.limit), std::string::npos) << message;
    EXPECT_EQ(ReadFile(text), kOldText);
    EXPECT_EQ(FileNames(dir.path()),
              Sorted({std::filesystem::path(book).filename().string(), "book.txt"}));
    std::filesystem::remove(book);
  }
}

// A value beyond the largest sheet (1,048,576 rows by 16,384 columns) is refused with
// the same kind of message, naming the workbook and the grid's limit.
TEST_F(ConversionLimitsTest, ValueBeyondTheLargestSheetNamesTheWorkbook) {
  struct Case {
    const char* file;
    const char* limit;
  } cases[] = {
      {"xlsx/row_too_far.xlsx", "1048576 rows"},
      {"xlsx/column_too_far.xlsx", "16384 columns"},
      {"ods/value_beyond_rows.ods", "1048576 rows"},
      {"ods/value_beyond_columns.ods", "16384 columns"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string file(c.file);
    const std::string message = Convert(testsupport::SourcePath("tests/sheet/data") + "/" + file,
                                        file.substr(file.rfind('.') + 1));
    EXPECT_EQ(message.rfind(kSaveMessage, 0), 0u) << message;
    EXPECT_NE(message.find("The workbook " + book + " goes beyond a limit"), std::string::npos)
        << message;
    EXPECT_NE(message.find(c.limit), std::string::npos) << message;
    EXPECT_EQ(ReadFile(text), kOldText);
    std::filesystem::remove(book);
  }
}

// Each limit follows its variable, for every format: the tank summary passes the limits
// set at exactly what it needs and fails one below. Its longest cell is Cyrillic text,
// two bytes a character, so that characters and not bytes are counted; its XML parts
// nest 5 levels (worksheet, sheetData, row, c, v) or more; an .xls workbook has no XML.
TEST_F(ConversionLimitsTest, EachLimitFollowsItsVariable) {
  const std::string expected =
      ReadFile(testsupport::SourcePath("tests/sheet/data") + "/tank_summary.expected.txt");
  ASSERT_FALSE(expected.empty());
  const std::size_t longest = LongestCell(expected);
  struct Case {
    const char* variable;
    std::string value;
    bool passes;
    bool xlsPasses;
  } cases[] = {
      {"TANKLOAD_MAX_TEXT_BYTES", std::to_string(expected.size()), true, true},
      {"TANKLOAD_MAX_TEXT_BYTES", std::to_string(expected.size() - 1), false, false},
      {"TANKLOAD_MAX_CELL_CHARS", std::to_string(longest), true, true},
      {"TANKLOAD_MAX_CELL_CHARS", std::to_string(longest - 1), false, false},
      {"TANKLOAD_MAX_XML_DEPTH", "4", false, true},
      // Not a positive number: the default stays.
      {"TANKLOAD_MAX_CELL_CHARS", "0", true, true},
      {"TANKLOAD_MAX_TEXT_BYTES", "10k", true, true},
  };
  for (const auto& c : cases) {
    for (const std::string format : {"xlsx", "ods", "xls"}) {
      SCOPED_TRACE(std::string(c.variable) + "=" + c.value + ", " + format);
      ScopedEnv limit(c.variable, c.value.c_str());
      const std::string message =
          Convert(testsupport::SourcePath("tests/sheet/data") + "/tank_summary." + format, format);
      if (format == "xls" ? c.xlsPasses : c.passes) {
        EXPECT_EQ(message, "");
        EXPECT_EQ(ReadFile(text), expected);
      } else {
        EXPECT_NE(message.find(book), std::string::npos) << message;
        EXPECT_NE(message.find(c.variable), std::string::npos) << message;
        EXPECT_EQ(ReadFile(text), kOldText);
      }
      EXPECT_EQ(FileNames(dir.path()), Sorted({"book." + format, "book.txt"}));
      std::filesystem::remove(book);
    }
  }
}

TEST(LimitFromEnvironmentTest, TakesOnlyAPositiveNumber) {
  constexpr char kName[] = "TANKLOAD_TEST_LIMIT";
  struct Case {
    const char* value;  // nullptr: unset
    std::uint64_t expected;
  } cases[] = {
      {nullptr, 7},
      {"12", 12},
      {"0", 7},
      {"-3", 7},
      {"abc", 7},
      {"12x", 7},
      {" 12", 7},
      {"", 7},
      {"281474976710656", 281474976710656},
      {"281474976710657", 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "unset");
    std::optional<ScopedEnv> env;
    if (c.value) {
      env.emplace(kName, c.value);
    } else {
      ::unsetenv(kName);
    }
    EXPECT_EQ(sheet::LimitFromEnvironment(kName, 7), c.expected);
  }
}

// A workbook that cannot be read leaves the old text as it was: the new text replaces it
// only once it has been written in full.
TEST_F(ConversionLimitsTest, DamagedWorkbookLeavesTheOldText) {
  std::string truncated =
      ReadFile(testsupport::SourcePath("tests/sheet/data") + "/tank_summary.xlsx");
  truncated.resize(truncated.size() * 2 / 3);
  std::string badSheet =
      ReadFile(testsupport::SourcePath("tests/sheet/data") + "/xlsx/malformed.xlsx");
  struct Case {
    const char* name;
    std::string content;
  } cases[] = {{"truncated archive", truncated}, {"malformed worksheet", badSheet}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = dir.File("source.bin");
    WriteFile(source, c.content);
    const std::string message = Convert(source, "xlsx");
    std::filesystem::remove(source);
    EXPECT_NE(message, "");
    EXPECT_EQ(ReadFile(text), kOldText);
    EXPECT_EQ(FileNames(dir.path()), (std::vector<std::string>{"book.txt", "book.xlsx"}));
  }
}

// A conversion ended by SIGTERM or SIGINT while it writes: the signal still ends the
// process, no .book.txt.XXXXXX is left and the old text is intact. The child converts a
// workbook that asks for gigabytes of text and is stopped once its temporary file holds
// some of it.
TEST_F(ConversionLimitsTest, InterruptedConversionLeavesNoTemporaryFile) {
  const std::string hostile = HostileWorkbooksDir();
  if (hostile.empty()) GTEST_SKIP() << "python3 could not make the crafted workbooks";
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(signal));
    book = dir.File("book.xlsx");
    std::filesystem::copy_file(hostile + "/shared_string_reuse.xlsx", book,
                               std::filesystem::copy_options::overwrite_existing);
    WriteFile(text, kOldText);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      SaveSheetAsText(book, "", "");
      ::_exit(0);
    }
    bool writing = false;
    int status = 0;
    bool ended = false;
    while (!writing && !ended) {
      for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        std::error_code ec;
        if (name.rfind(".book.txt.", 0) == 0 && std::filesystem::file_size(entry.path(), ec) > 0) {
          writing = true;
        }
      }
      ended = ::waitpid(child, &status, WNOHANG) == child;
      if (!writing && !ended) ::usleep(1000);
    }
    if (!ended) {
      ::kill(child, signal);
      ASSERT_EQ(::waitpid(child, &status, 0), child);
    }
    EXPECT_TRUE(writing) << "the conversion ended before it was interrupted";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_EQ(FileNames(dir.path()), (std::vector<std::string>{"book.txt", "book.xlsx"}));
    EXPECT_EQ(ReadFile(text), kOldText);
  }
}

}  // namespace
