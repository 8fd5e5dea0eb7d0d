// The settings file: Windows profile semantics on an INI text file.

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "AppTestSupport.h"
#include "platform/Exception.h"
#include "platform/IniFile.h"

using namespace apptest;

namespace {

TEST(IniFile, ReadsValuesWithoutRegardToCaseAndBlanks) {
  TempDir dir;
  const std::string path = dir.File("tankload.ini");
  WriteFile(path,
            "; настройки\r\n"
            "[Other]\r\n"
            "LastXlsFile=/wrong/section.xls\r\n"
            "[ saved VALUES ]\r\n"
            "  lastxlsfile  =   /data/Сводка 1.xls   \r\n"
            "LastXlsFile=/second/occurrence.xls\r\n"
            "Пусто=\r\n"
            "[Секция]\r\n"
            "Ключ=значение\r\n");
  TIniFile ini(path);
  struct Case {
    std::string name, section, key, expected;
  };
  const Case cases[] = {
      {"case and blanks ignored, first key wins", "Saved values", "LastXlsFile",
       "/data/Сводка 1.xls"},
      {"other section", "OTHER", "lastXLSfile", "/wrong/section.xls"},
      {"empty value is a value", "saved values", "пусто", ""},
      {"Cyrillic names fold", "СЕКЦИЯ", "КЛЮЧ", "значение"},
      {"missing key", "Saved values", "Nope", "default"},
      {"missing section", "Nope", "LastXlsFile", "default"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ini.ReadString(c.section, c.key, "default"), c.expected);
  }
  EXPECT_TRUE(ini.ValueExists("saved values", "пусто"));
  EXPECT_FALSE(ini.ValueExists("saved values", "nope"));
  EXPECT_TRUE(ini.SectionExists("секция"));
  EXPECT_EQ(TIniFile(dir.File("missing.ini")).ReadString("Saved values", "LastXlsFile", "d"), "d");
}

TEST(IniFile, WritingKeepsEverythingElse) {
  struct Case {
    std::string name;
    std::string before;
    std::string section, key, value;
    std::string after;
  };
  const Case cases[] = {
      {"no file yet", "", "Saved values", "LastXlsFile", "/a/*.xls",
       "[Saved values]\nLastXlsFile=/a/*.xls\n"},
      {"replaces the value, keeps the key's spelling and the rest",
       "; comment\n[SAVED VALUES]\nlastxlsfile = old\nOther=1\n\n[Tail]\nx=y\n", "Saved values",
       "LastXlsFile", "  new  ",
       "; comment\n[SAVED VALUES]\nlastxlsfile=new\nOther=1\n\n[Tail]\nx=y\n"},
      {"adds a key at the end of its section, before the blank lines",
       "[Saved values]\nOther=1\n\n[Tail]\nx=y\n", "saved values", "LastXlsFile", "v",
       "[Saved values]\nOther=1\nLastXlsFile=v\n\n[Tail]\nx=y\n"},
      {"adds a section at the end", "[Tail]\nx=y", "Saved values", "LastXlsFile", "v",
       "[Tail]\nx=y\n\n[Saved values]\nLastXlsFile=v\n"},
      {"keeps CR LF line breaks", "[Saved values]\r\nLastXlsFile=a\r\n; c\r\n", "Saved values",
       "LastXlsFile", "b", "[Saved values]\r\nLastXlsFile=b\r\n; c\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("t.ini");
    if (!c.before.empty()) WriteFile(path, c.before);
    TIniFile(path).WriteString(c.section, c.key, c.value);
    EXPECT_EQ(ReadFile(path), c.after);
    // Nothing is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Dir()),
                            std::filesystem::directory_iterator()),
              1);
  }
}

TEST(IniFile, DeleteKeyRemovesOnlyThatKey) {
  TempDir dir;
  const std::string path = dir.File("t.ini");
  WriteFile(path, "[A]\nk=1\nj=2\n[B]\nk=3\n");
  TIniFile ini(path);
  ini.DeleteKey("a", "K");
  ini.DeleteKey("a", "missing");
  EXPECT_EQ(ReadFile(path), "[A]\nj=2\n[B]\nk=3\n");
}

TEST(IniFile, WriteFailureRaisesUnableToWrite) {
  TempDir dir;
  struct Case {
    std::string name, path;
  };
  const Case cases[] = {
      {"missing directory", dir.File("no/such/dir/tankload.ini")},
      {"a directory in the way", dir.Dir()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIniFile ini(c.path);
    try {
      ini.WriteString("Saved values", "LastXlsFile", "x");
      FAIL() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + c.path);
    }
  }
  if (::geteuid() != 0) {
    // A directory without write permission (root could write anyway).
    const std::string locked = dir.File("locked");
    std::filesystem::create_directory(locked);
    WriteFile(locked + "/t.ini", "[A]\nk=1\n");
    ::chmod(locked.c_str(), 0555);
    EXPECT_THROW(TIniFile(locked + "/t.ini").WriteString("A", "k", "2"), Exception);
    EXPECT_EQ(ReadFile(locked + "/t.ini"), "[A]\nk=1\n");
    ::chmod(locked.c_str(), 0755);
  }
}

TEST(IniFile, WriteGoesThroughASymbolicLinkAndKeepsThePermissions) {
  TempDir dir;
  const std::string target = dir.File("real.ini");
  const std::string link = dir.File("link.ini");
  WriteFile(target, "[A]\nk=1\n");
  ::chmod(target.c_str(), 0640);
  std::filesystem::create_symlink(target, link);

  TIniFile(link).WriteString("A", "k", "2");

  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(target), "[A]\nk=2\n");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(IniFile, RefusesEntriesThatWouldBreakTheFile) {
  TempDir dir;
  const std::string path = dir.File("t.ini");
  WriteFile(path, "[A]\nk=1\n");
  TIniFile ini(path);
  EXPECT_THROW(ini.WriteString("A", "k", "two\nlines"), Exception);
  EXPECT_THROW(ini.WriteString("A]", "k", "v"), Exception);
  EXPECT_THROW(ini.WriteString("A", "k=j", "v"), Exception);
  EXPECT_THROW(ini.WriteString("A", " ", "v"), Exception);
  EXPECT_EQ(ReadFile(path), "[A]\nk=1\n");
}

}  // namespace
