#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Exception.h"
#include "platform/StringList.h"
#include "TestSupport.h"

using platform::TextEncoding;

TEST(SplitLines, LineRule) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"empty text gives no line", "", {}},
      {"one line", "a", {"a"}},
      {"final break adds no line", "a\n", {"a"}},
      {"CR LF is one break", "a\r\nb", {"a", "b"}},
      {"lone CR", "a\rb", {"a", "b"}},
      {"LF CR is two breaks", "a\n\rb", {"a", "", "b"}},
      {"empty line between", "a\r\n\r\nb", {"a", "", "b"}},
      {"single break", "\n", {""}},
      {"two breaks", "\n\n", {"", ""}},
      {"text ends at NUL", std::string("a\nb\0c\nd", 7), {"a", "b"}},
      {"tabs stay", "a\tb\n", {"a\tb"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> out = {"old", "older"};
    EXPECT_EQ(platform::SplitLines(c.text, out), c.lines.size());
    EXPECT_EQ(out, c.lines);
    TStringList list;
    list.SetText(c.text);
    EXPECT_EQ(list.Items(), c.lines);
  }
}

TEST(SplitLines, ReusesTheStringsOfOut) {
  std::vector<std::string> out;
  platform::SplitLines(std::string(100, 'x') + "\n" + std::string(100, 'y'), out);
  ASSERT_EQ(out.size(), 2u);
  const char* first = out[0].data();
  const char* second = out[1].data();
  platform::SplitLines("short\nline", out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], "short");
  EXPECT_EQ(out[1], "line");
  EXPECT_EQ(out[0].data(), first);
  EXPECT_EQ(out[1].data(), second);
}

TEST(StringList, TextJoinsEachItemWithABreak) {
  TStringList list;
  list.Add("a");
  list.Add("");
  list.Add("b");
  EXPECT_EQ(list.Text(), "a\n\nb\n");
  EXPECT_EQ(list.Text("\r\n"), "a\r\n\r\nb\r\n");
  list.Clear();
  EXPECT_EQ(list.Text(), "");
  EXPECT_EQ(list.Count(), 0);
}

TEST(StringList, LoadFromFileDetectsTheEncoding) {
  testsupport::TempDir dir;
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
    TextEncoding encoding;
  } cases[] = {
      {"UTF-8",
       "Танк 1\t1,5\r\nТанк 2\t2,5\r\n",
       {"Танк 1\t1,5", "Танк 2\t2,5"},
       TextEncoding::Utf8},
      {"UTF-8 with BOM", "\xEF\xBB\xBFОбъём\n", {"Объём"}, TextEncoding::Utf8Bom},
      {"Windows-1251",
       "\xCE\xE1\xFA\xB8\xEC\r\n\xD2\xE0\xED\xEA",
       {"Объём", "Танк"},
       TextEncoding::Windows1251},
      {"UTF-16 LE",
       std::string("\xFF\xFE"
                   "a\0\r\0\n\0\x16\x04",
                   10),
       {"a", "Ж"},
       TextEncoding::Utf16LE},
      {"empty file", "", {}, TextEncoding::Utf8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TStringList list;
    list.Add("stale");
    list.LoadFromFile(dir.Write("in.txt", c.bytes));
    EXPECT_EQ(list.Items(), c.lines);
    EXPECT_EQ(list.LoadedEncoding(), c.encoding);
  }
}

TEST(StringList, LoadFromFileRefusesNulBytesAndMissingFiles) {
  testsupport::TempDir dir;
  TStringList list;
  list.Add("kept");
  const std::string withNul = dir.Write("nul.txt", std::string("a\tb\n\0\0c\td\n", 11));
  EXPECT_THROW(list.LoadFromFile(withNul), EFileError);
  EXPECT_THROW(list.LoadFromFile(dir.File("missing.txt")), EFileError);
  try {
    list.LoadFromFile(dir.File("missing.txt"));
  } catch (const EFileError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.txt"), std::string::npos) << e.what();
  }
  // A failed load leaves the list as it was.
  EXPECT_EQ(list.Items(), std::vector<std::string>{"kept"});
}

TEST(StringList, LoadFromFileCountsTheLinesOfAMixedFile) {
  testsupport::TempDir dir;
  TStringList list;
  list.LoadFromFile(dir.Write("mixed.txt", "Танк\r\n\xC1\xE0\xEA\r\n1\r\n"));
  EXPECT_EQ(list.Items(), (std::vector<std::string>{"Танк", "Бак", "1"}));
  EXPECT_EQ(list.LoadedEncoding(), TextEncoding::Mixed);
  EXPECT_EQ(list.LoadedDecoding().utf8Lines, 1u);
  EXPECT_EQ(list.LoadedDecoding().win1251Lines, 1u);
  list.LoadFromFile(dir.Write("clean.txt", "Танк\r\n"));
  EXPECT_FALSE(list.LoadedDecoding().Mixed());
  EXPECT_EQ(list.LoadedDecoding().utf8Lines, 0u);
}

TEST(StringList, LoadFromFileRefusesFilesThatAreNotRegular) {
  // /dev/zero never ends, a FIFO without a writer would block, a socket cannot be read:
  // each is refused before anything is read, with the file and its kind named.
  testsupport::TempDir dir;
  const std::string fifo = dir.File("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
  const std::string socketPath = dir.File("sock");
  const int listener = testsupport::BindUnixSocket(socketPath);
  ASSERT_GE(listener, 0) << std::strerror(errno);
  struct Case {
    std::string path;
    const char* kind;
  } cases[] = {
      {"/dev/zero", "символьное устройство"},
      {fifo, "именованный канал (FIFO)"},
      {socketPath, "сокет"},
      {dir.path().string(), "каталог"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    TStringList list;
    list.Add("kept");
    try {
      list.LoadFromFile(c.path);
      ADD_FAILURE() << "no error";
    } catch (const EFileError& e) {
      EXPECT_EQ(std::string(e.what()),
                "Не могу прочитать файл <" + c.path + ">: это " + c.kind + ", а не обычный файл");
    }
    EXPECT_EQ(list.Items(), std::vector<std::string>{"kept"});
  }
  ::close(listener);
}

TEST(StringList, LoadFromFileRefusesAFileAboveTheSizeLimit) {
  testsupport::TempDir dir;
  const std::string path = dir.Write("big.txt", "0123456789\n");  // 11 bytes
  struct Case {
    const char* limit;
    bool read;
  } cases[] = {{"11", true}, {"10", false}, {"junk", true}, {nullptr, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit ? c.limit : "unset");
    testsupport::ScopedEnv env("TANKLOAD_MAX_TEXT_BYTES", c.limit);
    TStringList list;
    if (c.read) {
      list.LoadFromFile(path);
      EXPECT_EQ(list.Items(), std::vector<std::string>{"0123456789"});
      continue;
    }
    try {
      list.LoadFromFile(path);
      ADD_FAILURE() << "no error";
    } catch (const EFileError& e) {
      EXPECT_EQ(std::string(e.what()), "Не могу прочитать файл <" + path +
                                           ">: в нём 11 байт, больше предела 10 байт "
                                           "(TANKLOAD_MAX_TEXT_BYTES)");
    }
  }
  EXPECT_EQ(platform::MaxTextFileBytes(), platform::kDefaultMaxTextFileBytes);
}
