// The native workbook engine behind "Excel.Application": the automation members it
// answers, the running-instance rule, and whole conversions through SaveSheetAsText of
// our own fixtures (a tank summary in each format) and of bad input.

#include "sheet/Engine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "SheetTestSupport.h"
#include "platform/FormatSettings.h"
#include "sheet/Xlsfun.h"

namespace {

using sheet::AutomationError;
using sheet::OleCall;
using sheet::OleGet;
using sheet_test::Exists;
using sheet_test::ReadFile;
using sheet_test::RecordingSink;
using sheet_test::ScopedEnv;
using sheet_test::TempDir;
using sheet_test::WriteFile;

std::string Fixture(const std::string& name) {
  return testsupport::SourcePath("tests/sheet/data") + "/" + name;
}

class EngineTest : public ::testing::Test {
 protected:
  EngineTest() { sheet::RegisterNativeEngine(); }
  platform::ScopedFormatSettings us_{platform::UsFormatSettings()};
  TempDir dir;
  RecordingSink sink;
};

TEST_F(EngineTest, ConvertsTheTankSummaryOfEachFormat) {
  const std::string expected = ReadFile(Fixture("tank_summary.expected.txt"));
  ASSERT_FALSE(expected.empty());
  for (const std::string format : {"xlsx", "ods", "xls"}) {
    SCOPED_TRACE(format);
    const std::string text = dir.File("summary." + format + ".txt");
    EXPECT_EQ(SaveSheetAsText(Fixture("tank_summary." + format), "", text), text);
    EXPECT_EQ(sink.messages, std::vector<std::string>{});
    EXPECT_EQ(ReadFile(text), expected);
    sink.messages.clear();
  }
}

TEST_F(EngineTest, ConvertsASheetByName) {
  for (const std::string format : {"xlsx", "ods", "xls"}) {
    SCOPED_TRACE(format);
    const std::string text = dir.File("types." + format + ".txt");
    EXPECT_EQ(SaveSheetAsText(Fixture("tank_summary." + format), "типы", text), text);
    EXPECT_EQ(sink.messages, std::vector<std::string>{});
    EXPECT_EQ(ReadFile(text), ReadFile(Fixture("tank_summary.types." + format + ".txt")));
    sink.messages.clear();
  }
}

TEST_F(EngineTest, DerivedTextFileLandsBesideTheWorkbook) {
  const std::string book = dir.File("Танки 2024.xlsx");
  std::filesystem::copy_file(Fixture("tank_summary.xlsx"), book);
  EXPECT_EQ(SaveSheetAsText(book, "", ""), dir.File("Танки 2024.txt"));
  EXPECT_EQ(ReadFile(dir.File("Танки 2024.txt")), ReadFile(Fixture("tank_summary.expected.txt")));
  // The next conversion replaces the text file.
  EXPECT_EQ(SaveSheetAsText(book, "Типы", ""), dir.File("Танки 2024.txt"));
  EXPECT_EQ(ReadFile(dir.File("Танки 2024.txt")), ReadFile(Fixture("tank_summary.types.xlsx.txt")));
}

// Bad input ends in one message with its cause and leaves no text file.
TEST_F(EngineTest, BadWorkbooksGiveOneMessageWithTheCause) {
  std::string truncated = ReadFile(Fixture("tank_summary.xlsx"));
  truncated.resize(truncated.size() / 2);
  std::string badXls = ReadFile(Fixture("tank_summary.xls"));
  for (std::size_t i = 512; i < badXls.size(); ++i) badXls[i] = static_cast<char>(0xFF);
  struct Case {
    const char* name;
    std::string content;
    std::string sheetName;
    std::string messageStart;
    std::string cause;  // a part of the message naming the cause
  } cases[] = {
      {"text file", "Цистерна\t1\r\n", "", "Ошибка доступа к книге/листу\n", "Not a workbook"},
      {"empty file", "", "", "Ошибка доступа к книге/листу\n", "empty"},
      {"truncated xlsx", truncated, "", "Ошибка доступа к книге/листу\n", ""},
      {"compound file of garbage", badXls, "", "Ошибка доступа к книге/листу\n", ""},
      {"no sheet of that name", ReadFile(Fixture("tank_summary.ods")), "Нет такого",
       "Ошибка доступа к книге/листу\n", "Нет такого"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string book = dir.File("book.bin");
    const std::string text = dir.File("book.txt");
    WriteFile(book, c.content);
    sink.messages.clear();
    EXPECT_EQ(SaveSheetAsText(book, c.sheetName, ""), "");
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].substr(0, c.messageStart.size()), c.messageStart);
    EXPECT_GT(sink.messages[0].size(), c.messageStart.size()) << "no cause given";
    EXPECT_NE(sink.messages[0].find(c.cause), std::string::npos) << sink.messages[0];
    EXPECT_FALSE(Exists(text));
  }
}

TEST_F(EngineTest, UnwritableTextPathGivesTheSaveMessage) {
  const std::string text = dir.File("no/such/folder/out.txt");
  EXPECT_EQ(SaveSheetAsText(Fixture("tank_summary.xls"), "", text), "");
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0].rfind("Ошибка сохранения содержимого листа <Сводка>\n", 0), 0u)
      << sink.messages[0];
}

// A workbook the readers do not handle goes to the office converter: stand-ins for it
// that convert (copy a workbook into the output folder), fail, or are missing.
TEST_F(EngineTest, UnsupportedWorkbookGoesThroughTheOfficeConverter) {
  const std::string converts = dir.File("converts.sh");
  WriteFile(converts,
            "#!/bin/sh\n"
            "while [ $# -gt 0 ]; do\n"
            "  if [ \"$1\" = --outdir ]; then cp '" +
                Fixture("tank_summary.ods") +
                "' \"$2/copy.xlsx\"; fi\n"
                "  shift\n"
                "done\n");
  const std::string fails = dir.File("fails.sh");
  WriteFile(fails, "#!/bin/sh\nexit 1\n");
  std::filesystem::permissions(converts, std::filesystem::perms::owner_all);
  std::filesystem::permissions(fails, std::filesystem::perms::owner_all);
  const std::string expected = ReadFile(Fixture("tank_summary.expected.txt"));
  struct Case {
    const char* name;
    std::string office;
    std::string message;  // "" for success
  } cases[] = {
      {"converter writes a copy", converts, ""},
      {"converter fails", fails,
       "Ошибка доступа к книге/листу\nEncrypted workbook: BOOK is protected by a password; save "
       "it without one and try again; LibreOffice could not convert it either"},
      {"no converter", "",
       "Ошибка доступа к книге/листу\nEncrypted workbook: BOOK is protected by a password; save "
       "it without one and try again (LibreOffice, which could convert it, is not installed)"},
      {"converter cannot start", dir.File("absent-office"), "cannot be started"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv office("TANKLOAD_SOFFICE", c.office.c_str());
    const std::string book = Fixture("encrypted.xlsx");
    const std::string text = dir.File("out.txt");
    sink.messages.clear();
    const std::string result = SaveSheetAsText(book, "", text);
    if (c.message.empty()) {
      EXPECT_EQ(result, text);
      EXPECT_EQ(ReadFile(text), expected);
      EXPECT_EQ(sink.messages, std::vector<std::string>{});
    } else {
      EXPECT_EQ(result, "");
      ASSERT_EQ(sink.messages.size(), 1u);
      std::string message = c.message;
      if (auto at = message.find("BOOK"); at != std::string::npos) message.replace(at, 4, book);
      EXPECT_NE(sink.messages[0].find(message), std::string::npos) << sink.messages[0];
    }
  }
}

// The automation members, called directly.
TEST_F(EngineTest, AnswersTheAutomationMembers) {
  Variant app = sheet::CreateOleObject("Excel.Application");
  Variant books = OleGet(app, "Workbooks");
  EXPECT_EQ(sheet::VariantToInt32(OleGet(books, "Count")), 0);
  Variant book = OleCall(books, "Open", {Variant::OleStr(Fixture("tank_summary.xls"))});
  Variant other = OleCall(books, "open", {Variant::OleStr(Fixture("tank_summary.ods"))});
  EXPECT_EQ(sheet::VariantToInt32(OleGet(books, "Count")), 2);

  Variant sheets = OleGet(book, "Worksheets");
  EXPECT_EQ(sheet::VariantToInt32(OleGet(sheets, "Count")), 2);
  EXPECT_EQ(sheet::VariantToText(OleGet(OleGet(sheets, "Item", {Variant::Integer(2)}), "Name")),
            "Типы");
  EXPECT_EQ(
      sheet::VariantToText(OleGet(OleGet(sheets, "Item", {Variant::OleStr("СВОДКА")}), "Name")),
      "Сводка");

  struct Case {
    const char* name;
    std::function<void()> call;
    std::string message;
  } errors[] = {
      {"unknown member", [&] { OleGet(app, "Visible"); }, "Visible"},
      {"index below 1", [&] { OleGet(sheets, "Item", {Variant::Integer(0)}); }, "out of range"},
      {"index past the end", [&] { OleGet(sheets, "Item", {Variant::Integer(3)}); },
       "out of range"},
      {"unsupported save format",
       [&] {
         OleCall(OleGet(sheets, "Item", {Variant::Integer(1)}), "SaveAs",
                 {Variant::OleStr(dir.File("x.csv")), Variant::Integer(6)});
       },
       "format 6"},
      {"open of a missing file",
       [&] { OleCall(books, "Open", {Variant::OleStr(dir.File("absent.xls"))}); }, "absent.xls"},
      {"not an object", [&] { OleGet(Variant::Null(), "Workbooks"); }, "Workbooks"},
  };
  for (const auto& c : errors) {
    SCOPED_TRACE(c.name);
    try {
      c.call();
      ADD_FAILURE() << "no error";
    } catch (const AutomationError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }

  OleCall(book, "Close", {Variant::Boolean(false)});
  EXPECT_EQ(sheet::VariantToInt32(OleGet(books, "Count")), 1);
  EXPECT_THROW(OleGet(sheets, "Item", {Variant::Integer(1)}), AutomationError);
  OleCall(app, "Quit");
  EXPECT_THROW(OleGet(app, "Workbooks"), AutomationError);
}

// The running instance is the last one created that is still referenced and has not
// quit.
TEST_F(EngineTest, RunningInstanceRule) {
  EXPECT_THROW(sheet::GetActiveOleObject("Excel.Application"), AutomationError);
  {
    Variant app = sheet::CreateOleObject("Excel.Application");
    Variant running = sheet::GetActiveOleObject("Excel.Application");
    EXPECT_EQ(running, app);
    OleCall(app, "Quit");
    EXPECT_THROW(sheet::GetActiveOleObject("Excel.Application"), AutomationError);
  }
  { Variant app = sheet::CreateOleObject("Excel.Application"); }
  EXPECT_THROW(sheet::GetActiveOleObject("Excel.Application"), AutomationError);
}

// An instance the user keeps with a workbook open is used and left running.
TEST_F(EngineTest, ConversionInARunningInstanceLeavesItsWorkbooksOpen) {
  Variant app = sheet::CreateOleObject("Excel.Application");
  Variant books = OleGet(app, "Workbooks");
  OleCall(books, "Open", {Variant::OleStr(Fixture("tank_summary.ods"))});
  const std::string text = dir.File("out.txt");
  EXPECT_EQ(SaveSheetAsText(Fixture("tank_summary.xlsx"), "", text), text);
  EXPECT_EQ(sheet::VariantToInt32(OleGet(books, "Count")), 1);
  EXPECT_NO_THROW(OleGet(app, "Workbooks"));
}

}  // namespace
