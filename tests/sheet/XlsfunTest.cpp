// SaveSheetAsText against scripted automation instances: every call is recorded, and any
// call can be told to fail, so the order of calls, the retry, the quit rule, the release
// order and every message can be checked exactly.

#include "sheet/Xlsfun.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "SheetTestSupport.h"
#include "sheet/Automation.h"

namespace {

using sheet::AutomationError;
using sheet::AutomationObject;
using sheet::VariantArgs;
using sheet_test::Exists;
using sheet_test::ReadFile;
using sheet_test::RecordingSink;
using sheet_test::TempDir;
using sheet_test::WriteFile;

// What the scripted application does, and what was done to it.
struct Script {
  bool running = false;             // an instance ("app0") is running
  int openWorkbooksAfterClose = 0;  // what Workbooks.Count answers
  std::set<std::string> fail;       // "create1", "running", "books1.Open", "sheet1.SaveAs", ...
  std::vector<std::string> log;
  int created = 0;
};

std::string ArgText(const Variant& v) {
  switch (v.VType()) {
    case varNull:
      return "null";
    case varInteger:
      return std::to_string(v.IntValue());
    case varBoolean:
      return v.BoolValue() ? "true" : "false";
    case varOleStr:
      return "'" + v.Text() + "'";
    default:
      return "<type " + std::to_string(v.VType()) + ">";
  }
}

class ScriptedObject : public AutomationObject {
 public:
  ScriptedObject(Script& script, std::string kind, int instance)
      : script_(script), kind_(std::move(kind)), instance_(instance) {}
  ~ScriptedObject() override { script_.log.push_back("release " + Name()); }

  Variant Get(const std::string& member, const VariantArgs& args) override {
    return Invoke("get", member, args);
  }
  Variant Call(const std::string& member, const VariantArgs& args) override {
    return Invoke("call", member, args);
  }

 private:
  std::string Name() const { return kind_ + std::to_string(instance_); }

  Variant Child(const std::string& kind) {
    return Variant::Dispatch(std::make_shared<ScriptedObject>(script_, kind, instance_));
  }

  Variant Invoke(const std::string& how, const std::string& member, const VariantArgs& args) {
    std::string entry = Name() + "." + how + " " + member + "(";
    for (std::size_t i = 0; i < args.size(); ++i) entry += (i ? ", " : "") + ArgText(args[i]);
    script_.log.push_back(entry + ")");
    if (script_.fail.count(Name() + "." + member)) {
      throw AutomationError(Name() + "." + member + " failed");
    }
    const std::string key = kind_ + "." + how + " " + member;
    if (key == "app.get Workbooks") return Child("books");
    if (key == "books.call Open") return Child("book");
    if (key == "book.get Worksheets") return Child("sheets");
    if (key == "sheets.get Item") return Child("sheet");
    if (key == "sheet.get Name") return Variant::OleStr("Лист1");
    if (key == "books.get Count") return Variant::Integer(script_.openWorkbooksAfterClose);
    if (key == "sheet.call SaveAs" || key == "book.call Close" || key == "app.call Quit") {
      return Variant();
    }
    throw sheet::UnknownMember(member);
  }

  Script& script_;
  std::string kind_;
  int instance_;
};

class ScriptedClass : public sheet::AutomationClass {
 public:
  explicit ScriptedClass(Script& script) : script_(script) {}

  std::shared_ptr<AutomationObject> GetRunningInstance() override {
    script_.log.push_back("running?");
    if (!script_.running || script_.fail.count("running")) {
      throw AutomationError("Operation unavailable");
    }
    return std::make_shared<ScriptedObject>(script_, "app", 0);
  }
  std::shared_ptr<AutomationObject> CreateInstance() override {
    const int n = ++script_.created;
    script_.log.push_back("create app" + std::to_string(n));
    if (script_.fail.count("create" + std::to_string(n))) {
      throw AutomationError("create" + std::to_string(n) + " failed");
    }
    return std::make_shared<ScriptedObject>(script_, "app", n);
  }

 private:
  Script& script_;
};

class SaveSheetAsTextTest : public ::testing::Test {
 protected:
  SaveSheetAsTextTest()
      : registration_("Excel.Application", std::make_shared<ScriptedClass>(script)) {
    book = dir.File("tanks.xls");
    text = dir.File("tanks.txt");
    WriteFile(book, "workbook bytes");
  }

  std::vector<std::string> SaveAsAndAfter(const std::string& n) const {
    return {"sheet" + n + ".call SaveAs('" + text +
                "', 20, null, null, false, false, false, null, null)",
            "book" + n + ".call Close(false)", "books" + n + ".get Count()"};
  }
  static std::vector<std::string> Releases(const std::string& n) {
    return {"release sheet" + n, "release sheets" + n, "release book" + n, "release books" + n,
            "release app" + n};
  }

  TempDir dir;
  Script script;
  sheet::ScopedAutomationClass registration_;
  RecordingSink sink;
  std::string book;
  std::string text;
};

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST_F(SaveSheetAsTextTest, NewInstanceConvertsFirstSheetAndQuits) {
  EXPECT_EQ(SaveSheetAsText(book, "", ""), text);
  EXPECT_EQ(sink.messages, std::vector<std::string>{});
  EXPECT_EQ(script.log, Concat({{"running?", "create app1", "app1.get Workbooks()",
                                 "books1.call Open('" + book + "')", "book1.get Worksheets()",
                                 "sheets1.get Item(1)"},
                                SaveAsAndAfter("1"),
                                {"app1.call Quit()"},
                                Releases("1")}));
}

TEST_F(SaveSheetAsTextTest, RunningInstanceWithOtherWorkbooksKeepsRunning) {
  script.running = true;
  script.openWorkbooksAfterClose = 2;
  EXPECT_EQ(SaveSheetAsText(book, "", ""), text);
  EXPECT_EQ(sink.messages, std::vector<std::string>{});
  EXPECT_EQ(script.log,
            Concat({{"running?", "app0.get Workbooks()", "books0.call Open('" + book + "')",
                     "book0.get Worksheets()", "sheets0.get Item(1)"},
                    SaveAsAndAfter("0"),
                    Releases("0")}));
}

TEST_F(SaveSheetAsTextTest, RunningInstanceWithoutOtherWorkbooksQuits) {
  script.running = true;
  EXPECT_EQ(SaveSheetAsText(book, "", ""), text);
  EXPECT_EQ(script.created, 0);
  EXPECT_NE(std::find(script.log.begin(), script.log.end(), "app0.call Quit()"), script.log.end());
}

TEST_F(SaveSheetAsTextTest, SheetNameChoosesTheItem) {
  struct Case {
    const char* name;
    std::string sheetName;
    std::string item;
  } cases[] = {
      {"empty: first sheet", "", "sheets1.get Item(1)"},
      {"blank: first sheet", " \t ", "sheets1.get Item(1)"},
      {"name passed untrimmed", " Цистерны ", "sheets1.get Item(' Цистерны ')"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    script = Script{};
    EXPECT_EQ(SaveSheetAsText(book, c.sheetName, ""), text);
    EXPECT_NE(std::find(script.log.begin(), script.log.end(), c.item), script.log.end());
  }
}

TEST_F(SaveSheetAsTextTest, PathsAreTrimmedAndTheTextPathDerived) {
  const std::string other = dir.File("out.tab");
  EXPECT_EQ(SaveSheetAsText("  " + book + "\t", "", " \r\n"), text);
  EXPECT_EQ(script.log[3], "books1.call Open('" + book + "')");
  script = Script{};
  EXPECT_EQ(SaveSheetAsText(book, "", "  " + other + " "), other);
}

TEST(DerivedTextPathTest, ReplacesOrAppendsTheExtension) {
  struct Case {
    const char* name;
    std::string input;
    std::string expected;
  } cases[] = {
      {"extension replaced", "/data/tanks.xls", "/data/tanks.txt"},
      {"point in a folder name", "/data.old/tanks", "/data.old/tanks.txt"},
      {"last extension only", "/data/tanks.2024.xlsx", "/data/tanks.2024.txt"},
      {"colon after the point", "/data/a.b:c", "/data/a.b:c.txt"},
      {"relative, no folder", "tanks.ods", "tanks.txt"},
      {"no extension", "tanks", "tanks.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(sheet::DerivedTextPath(c.input), c.expected);
  }
}

TEST_F(SaveSheetAsTextTest, MissingWorkbookGivesEmptyResultQuietly) {
  const std::string cases[] = {dir.File("absent.xls"), dir.path().string(), "", "   "};
  for (const auto& path : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(SaveSheetAsText(path, "", ""), "");
  }
  EXPECT_EQ(sink.messages, std::vector<std::string>{});
  EXPECT_EQ(script.log, std::vector<std::string>{});
}

// The old text is replaced by the save, not deleted beforehand: a conversion that fails
// leaves it as it was.
TEST_F(SaveSheetAsTextTest, OldTextFileSurvivesAFailedConversion) {
  for (const char* failing : {"create1", "sheet1.SaveAs"}) {
    SCOPED_TRACE(failing);
    script = Script{};
    WriteFile(text, "old text");
    script.fail = {failing};
    EXPECT_EQ(SaveSheetAsText(book, "", ""), "");
    EXPECT_EQ(ReadFile(text), "old text");
  }
}

// Each failure: which call fails, the one message shown, and the calls made (the tail
// of the log, from the failing call on).
TEST_F(SaveSheetAsTextTest, FailuresShowOneMessageAndGiveEmptyResult) {
  const std::string retryMessage =
      "Не могу запустить приложение MSExcel.\n"
      "Если оно у Вас уже запущено закройте его и повторите попытку.";
  struct Case {
    const char* name;
    bool running;
    std::set<std::string> fail;
    std::string message;
    std::vector<std::string> tail;
  } cases[] = {
      {"new instance cannot start",
       false,
       {"create1"},
       "Не могу запустить приложение MSExcel\ncreate1 failed",
       {"running?", "create app1"}},
      {"running instance unreachable, new one cannot start",
       true,
       {"running", "create1"},
       "Не могу запустить приложение MSExcel\ncreate1 failed",
       {"running?", "create app1"}},
      {"workbook collection cannot be read",
       false,
       {"app1.Workbooks"},
       "Ошибка при открытии файла.\nGet WorkBooks collection\napp1.Workbooks failed",
       {"app1.get Workbooks()", "release app1"}},
      {"retry: fresh instance cannot start",
       false,
       {"books1.Open", "create2"},
       retryMessage,
       {"books1.call Open('BOOK')", "create app2", "release books1", "release app1"}},
      {"retry: fresh collection cannot be read",
       false,
       {"books1.Open", "app2.Workbooks"},
       retryMessage,
       {"create app2", "release app1", "app2.get Workbooks()", "release books1", "release app2"}},
      {"retry: open fails again",
       false,
       {"books1.Open", "books2.Open"},
       retryMessage,
       {"books2.call Open('BOOK')", "release books2", "release app2"}},
      {"worksheet collection cannot be read",
       false,
       {"book1.Worksheets"},
       "Ошибка доступа к книге/листу\nbook1.Worksheets failed",
       {"book1.get Worksheets()", "release book1", "release books1", "release app1"}},
      {"worksheet cannot be found",
       false,
       {"sheets1.Item"},
       "Ошибка доступа к книге/листу\nsheets1.Item failed",
       {"sheets1.get Item(1)", "release sheets1", "release book1", "release books1",
        "release app1"}},
      {"save fails: no close, no quit",
       false,
       {"sheet1.SaveAs"},
       "Ошибка сохранения содержимого листа <Лист1>\nsheet1.SaveAs failed",
       {"sheet1.call SaveAs('TEXT', 20, null, null, false, false, false, null, null)",
        "sheet1.get Name()", "release sheet1", "release sheets1", "release book1", "release books1",
        "release app1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    script = Script{};
    script.running = c.running;
    script.fail = c.fail;
    sink.messages.clear();
    EXPECT_EQ(SaveSheetAsText(book, "", ""), "");
    EXPECT_EQ(sink.messages, std::vector<std::string>{c.message});
    std::vector<std::string> tail = c.tail;
    for (auto& entry : tail) {
      if (auto at = entry.find("BOOK"); at != std::string::npos) entry.replace(at, 4, book);
      if (auto at = entry.find("TEXT"); at != std::string::npos) entry.replace(at, 4, text);
    }
    ASSERT_GE(script.log.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(script.log.end() - static_cast<std::ptrdiff_t>(tail.size()),
                                       script.log.end()),
              tail);
  }
}

TEST_F(SaveSheetAsTextTest, OpenFailureRetriesOnceInAFreshInstance) {
  script.running = true;
  script.fail = {"books0.Open"};
  EXPECT_EQ(SaveSheetAsText(book, "", ""), text);
  EXPECT_EQ(sink.messages, std::vector<std::string>{});
  // The instance that failed is released when the new one takes its place, neither
  // closed nor told to quit; its collection goes when the new collection is read.
  EXPECT_EQ(
      script.log,
      Concat({{"running?", "app0.get Workbooks()", "books0.call Open('" + book + "')",
               "create app1", "release app0", "app1.get Workbooks()", "release books0",
               "books1.call Open('" + book + "')", "book1.get Worksheets()", "sheets1.get Item(1)"},
              SaveAsAndAfter("1"),
              {"app1.call Quit()"},
              Releases("1")}));
}

TEST_F(SaveSheetAsTextTest, CloseStageFailuresStillSucceed) {
  struct Case {
    const char* name;
    std::string fail;
    std::string lastCall;
  } cases[] = {
      {"close fails", "book1.Close", "book1.call Close(false)"},
      {"count fails", "books1.Count", "books1.get Count()"},
      {"quit fails", "app1.Quit", "app1.call Quit()"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    script = Script{};
    script.fail = {c.fail};
    EXPECT_EQ(SaveSheetAsText(book, "", ""), text);
    EXPECT_EQ(sink.messages, std::vector<std::string>{});
    ASSERT_GE(script.log.size(), 6u);
    EXPECT_EQ(script.log[script.log.size() - 6], c.lastCall);
    EXPECT_EQ(std::vector<std::string>(script.log.end() - 5, script.log.end()), Releases("1"));
  }
}

TEST_F(SaveSheetAsTextTest, NameFailureAfterSaveFailurePassesToTheCaller) {
  script.fail = {"sheet1.SaveAs", "sheet1.Name"};
  EXPECT_THROW(SaveSheetAsText(book, "", ""), AutomationError);
  EXPECT_EQ(sink.messages, std::vector<std::string>{});
  EXPECT_EQ(std::vector<std::string>(script.log.end() - 5, script.log.end()), Releases("1"));
}

// A text file that cannot be deleted: a directory in its place (which no one may
// delete), a file in a read-only directory (stops everyone but root), an immutable file
// (stops root too, where the file system supports it).
TEST_F(SaveSheetAsTextTest, UndeletableTextFileStopsBeforeTheApplication) {
  const std::string expected = "Не могу удалить файл <" + text + ">";
  {
    SCOPED_TRACE("directory at the text path");
    std::filesystem::create_directory(text);
    WriteFile(text + "/keep", "x");
    EXPECT_EQ(SaveSheetAsText(book, "", ""), "");
    EXPECT_EQ(sink.messages, std::vector<std::string>{expected});
    EXPECT_EQ(script.log, std::vector<std::string>{});
    EXPECT_TRUE(Exists(text + "/keep"));
    std::filesystem::remove_all(text);
  }
  {
    SCOPED_TRACE("immutable file");
    sink.messages.clear();
    WriteFile(text, "old");
    if (std::system(("chattr +i '" + text + "' 2>/dev/null").c_str()) != 0) {
      std::cout << "[   NOTE   ] chattr +i not available here; immutable case not run\n";
    } else {
      EXPECT_EQ(SaveSheetAsText(book, "", ""), "");
      EXPECT_EQ(sink.messages, std::vector<std::string>{expected});
      EXPECT_EQ(script.log, std::vector<std::string>{});
      EXPECT_EQ(std::system(("chattr -i '" + text + "'").c_str()), 0);
    }
    std::filesystem::remove(text);
  }
  {
    SCOPED_TRACE("read-only directory");
    sink.messages.clear();
    WriteFile(text, "old");
    ::chmod(dir.path().c_str(), 0555);
    if (::geteuid() == 0) {
      std::cout << "[   NOTE   ] running as root: permission bits do not stop deletion; "
                   "read-only directory case not run\n";
    } else {
      EXPECT_EQ(SaveSheetAsText(book, "", ""), "");
      EXPECT_EQ(sink.messages, std::vector<std::string>{expected});
      EXPECT_EQ(ReadFile(text), "old");
    }
    ::chmod(dir.path().c_str(), 0755);
  }
}

// The text path names the workbook itself: the workbook must survive untouched.
TEST_F(SaveSheetAsTextTest, TextPathNamingTheWorkbookIsRefused) {
  const std::string txtBook = dir.File("svod.txt");
  WriteFile(txtBook, "workbook that happens to end in .txt");
  std::filesystem::create_hard_link(book, dir.File("link.txt"));
  std::filesystem::create_symlink(book, dir.File("symlink.txt"));
  struct Case {
    const char* name;
    std::string workbook;
    std::string textPath;
  } cases[] = {
      {"derived path is the workbook", txtBook, ""},
      {"other spelling of the same path", book, dir.path().string() + "/./sub/../tanks.xls"},
      {"relative spelling", txtBook, std::filesystem::relative(txtBook).string()},
      {"hard link to the workbook", book, dir.File("link.txt")},
      {"symbolic link to the workbook", book, dir.File("symlink.txt")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = ReadFile(c.workbook);
    sink.messages.clear();
    script = Script{};
    EXPECT_EQ(SaveSheetAsText(c.workbook, "", c.textPath), "");
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find("совпадает с файлом книги"), std::string::npos);
    EXPECT_EQ(ReadFile(c.workbook), before);
    EXPECT_EQ(script.log, std::vector<std::string>{});
  }
}

TEST_F(SaveSheetAsTextTest, NameDifferingInLetterCaseIsAnotherFile) {
  const std::string upper = dir.File("TANKS.XLS");
  if (Exists(upper)) GTEST_SKIP() << "the file system ignores letter case";
  EXPECT_EQ(SaveSheetAsText(book, "", upper), upper);
  EXPECT_EQ(ReadFile(book), "workbook bytes");
}

}  // namespace
