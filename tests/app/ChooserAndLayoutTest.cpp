// The import record layout and the set-up of the file chooser.

#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "app/FileChooser.h"
#include "app/ImportLayout.h"
#include "convert/Smallfun.h"
#include "record/Znsrec.h"

namespace {

TEST(ImportLayout, PreparesTheTwentyFiveFields) {
  TZnFFSRecord record;
  record.Add("Leftover", "str");
  // 1 June 2024, one minute before midnight.
  app::PrepareImportRecord(&record, 45444.0 + 1439.0 / 1440.0);

  ASSERT_EQ(record.GetCount(), 25);
  std::string names;
  std::string unread;
  std::string unwritten;
  for (int i = 0; i < record.GetCount(); ++i) {
    const TZnFFSField* f = record.GetItem(i);
    names += f->Name + " ";
    if (f->NoScan) unread += f->Name + " ";
    if (f->NoStore) unwritten += f->Name + " ";
  }
  EXPECT_EQ(names,
            "Tank Designation ColumnB Frame Board Deck Volume Fperm Volume_Netto SpecificWeight "
            "FactorExpansion AccountDeadStock DeadSstock AccountSstock Xpvm Ypvm Zpvm Mx Mz "
            "ColumnS dmh dM LPP Project Variant ");
  EXPECT_EQ(unread, "Tank LPP Project Variant ");
  EXPECT_EQ(unwritten, "ColumnB ColumnS ");

  struct Case {
    std::string field, type, format;
  };
  const Case cases[] = {
      {"Tank", "varchar", ""},    {"Volume", "float", "0.00"}, {"Mz", "float", "0.00"},
      {"dmh", "float", "0"},      {"dM", "float", "0"},        {"LPP", "integer", ""},
      {"Variant", "integer", ""}, {"ColumnS", "varchar", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    const TZnFFSField* f = record.ByName(c.field);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Type, c.type);
    EXPECT_EQ(f->Format, c.format);
  }
  EXPECT_EQ(record.ByName("LPP")->Value, Variant::Integer(142));
  EXPECT_EQ(record.ByName("Project")->Value, Variant::String("TOrva_1"));
  EXPECT_EQ(record.ByName("Variant")->Value, Variant::Integer(45444));
  EXPECT_TRUE(record.ByName("Designation")->Value.IsNull());
  EXPECT_TRUE(record.ByName("Designation")->DefValue.IsNull());
}

TEST(ImportLayout, CellsFeedTheReadFieldsInOrder) {
  TZnFFSRecord record;
  app::PrepareImportRecord(&record, 45444.0);
  std::vector<std::string> cells;
  for (int i = 1; i <= 22; ++i) cells.push_back(std::to_string(i));
  record.ScanString(apptest::Line(cells), '\t');

  EXPECT_EQ(record.ByName("Designation")->GetAsString(), "1");
  EXPECT_EQ(record.ByName("ColumnB")->GetAsString(), "2");
  EXPECT_EQ(record.ByName("ColumnS")->GetAsString(), "19");
  EXPECT_EQ(record.ByName("dM")->GetAsFloat(), 21.0);
  EXPECT_EQ(record.ByName("LPP")->Value, Variant::Integer(142));  // the 22nd cell feeds nothing
  EXPECT_TRUE(record.ByName("Tank")->Value.IsNull());

  record.ScanString("Танк 5", '\t');
  EXPECT_EQ(record.ScanCount, 1);
  record.ScanString(apptest::Line({"", "", "12"}), '\t');
  EXPECT_TRUE(record.ByName("Designation")->GetIsNull());
}

TEST(ImportLayout, ProjectAndLppGivenReplaceTheConstants) {
  TZnFFSRecord record;
  app::PrepareImportRecord(&record, 45444.0, {"Корабль 7", 150});
  EXPECT_EQ(record.ByName("LPP")->Value, Variant::Integer(150));
  EXPECT_EQ(record.ByName("Project")->Value, Variant::String("Корабль 7"));
  EXPECT_EQ(znsrec::GetAsSQLConstant(record.ByName("Project")), "'Корабль 7'");
}

TEST(ImportLayout, NullRecordIsLeftAlone) { app::PrepareImportRecord(nullptr, 45444.0); }

TEST(FileChooser, SplitsThePathIntoDirectoryAndName) {
  struct Case {
    std::string path, directory, fileName;
  };
  const Case cases[] = {
      {"/opt/tankload/*.xls", "/opt/tankload", "*.xls"},
      {"/home/user/Сводки/танки.xlsx", "/home/user/Сводки", "танки.xlsx"},
      {"/tanks.xls", "/", "tanks.xls"},
      {"tanks.xls", "", "tanks.xls"},
      {"/gone/dir/", "/gone/dir", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const app::ChooserStart start = app::SplitChooserPath(c.path);
    EXPECT_EQ(start.directory, c.directory);
    EXPECT_EQ(start.fileName, c.fileName);
  }
}

TEST(FileChooser, FiltersOfferEveryWorkbookThenAllFiles) {
  struct Case {
    std::string filter;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"*.xls|*.xls|Все файлы|*.*", {"*.xls *.xlsx *.xlsm *.ods", "Все файлы (*)"}},
      {"*.txt|*.txt|Все файлы|*.*", {"*.txt", "Все файлы (*)"}},
      {"Тексты|*.txt;*.csv", {"Тексты (*.txt *.csv)"}},
      {"broken|", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    EXPECT_EQ(app::DialogFilters(c.filter), c.expected);
  }
}

TEST(FileChooser, SettingsFileIsNamedAfterTheExecutable) {
  struct Case {
    std::string exe, ini;
  };
  const Case cases[] = {
      {"/opt/tankload/tankload", "/opt/tankload/tankload.ini"},
      {"/opt/tl/tankload.bin", "/opt/tl/tankload.ini"},
      {"/opt/v1.2/tankload", "/opt/v1.2/tankload.ini"},
      {"/opt/.hidden", "/opt/.hidden.ini"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exe);
    EXPECT_EQ(app::IniPathForExecutable(c.exe), c.ini);
  }
}

}  // namespace
