// Import records stored into real tables: by the generated INSERT text through the
// query, and by dataset insertion through the table.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "convert/Smallfun.h"
#include "db/Database.h"
#include "platform/FormatSettings.h"
#include "record/Znsrec.h"
#include "tests/db/DbTestSupport.h"

namespace {

using dbtest::ErrorOf;
using testsupport::BothEngines;
using testsupport::Scalar;
using testsupport::Std;

// A part of the import layout: read fields, a field that is never written, constants.
void Prepare(TZnFFSRecord& r) {
  r.Add("Tank", "str", false, Variant::Null(), Variant::Null(), true);
  r.Add("Designation", "str", true, Variant::Null(), Variant::Null(), true);
  r.Add("ColumnB", "str", true, Variant::Null(), Variant::Null(), false);
  r.Add("Frame", "str", true, Variant::Null(), Variant::Null(), true);
  r.Add("Volume", "flt", true, Variant::Null(), Variant::Null(), true)->Format = "0.00";
  r.Add("dM", "flt", true, Variant::Null(), Variant::Null(), true)->Format = "0";
  r.Add("LPP", "int", false, Variant::Null(), Variant::Null(), true)->SetAsInteger(142);
  r.Add("Project", "str", false, Variant::Null(), Variant::Null(), true)->SetAsString("TOrva_1");
  r.Add("Variant", "int", false, Variant::Null(), Variant::Null(), true)->SetAsInteger(45444);
}

const char* const kColumns = "Tank, Designation, Frame, Volume, dM, LPP, Project, Variant";

class RecordInsertTest : public BothEngines {
 protected:
  void SetUp() override {
    BothEngines::SetUp();
    if (IsSkipped()) return;
    db::CreateSchema(db_->connection());
    DefaultDataBaseTypeName = "ACCESS";
    table_ = std::make_unique<db::Table>(db_->connection());
    table_->SetTableName("FromExcel");
    table_->Open();
  }
  void TearDown() override {
    table_.reset();
    BothEngines::TearDown();
  }
  // The columns of the row with that ID, as one text ("|" between, "NULL" for null).
  std::string Row(int id) {
    QSqlQuery q =
        testsupport::Exec(db_->database(), std::string("SELECT ") + kColumns +
                                               " FROM FromExcel WHERE ID = " + std::to_string(id));
    if (!q.next()) return "(no row)";
    std::string out;
    for (int i = 0; i < 8; ++i) {
      if (i) out += "|";
      out += q.value(i).isNull() ? "NULL" : Std(q.value(i).toString());
    }
    return out;
  }
  int Rows() { return Scalar(db_->database(), "SELECT count(*) FROM FromExcel").toInt(); }
  int ExecSQL(const std::string& sql) {
    db::Query query(db_->connection());
    query.SetSQL(sql);
    return query.ExecSQL();
  }

  platform::ScopedFormatSettings us_{platform::UsFormatSettings()};
  std::unique_ptr<db::Table> table_;
};

// Both runs store the same values for the same line.
TEST_P(RecordInsertTest, StatementAndTablePathsStoreTheSameRow) {
  struct Case {
    const char* name;
    const char* line;
    const char* tank;
    const char* expected;
  };
  const Case cases[] = {
      {"full line", "1-Tank\t\tFr 12\t10.5\t-3", "Header",
       "Header|1-Tank|Fr 12|10.5|-3|142|TOrva_1|45444"},
      {"blank cells", "2-Tank\t\t\t\t", "Header", "Header|2-Tank|NULL|NULL|NULL|142|TOrva_1|45444"},
      {"no number", "3\t\tx\tabc\t0.25", "", "NULL|3|x|NULL|0.25|142|TOrva_1|45444"},
  };
  int id = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TZnFFSRecord record;
    Prepare(record);
    ASSERT_TRUE(record.ScanString(c.line, '\t'));
    if (*c.tank) record.ByName("Tank")->SetAsString(c.tank);

    EXPECT_EQ(ExecSQL(record.InsertSQL("FromExcel")), 1);
    EXPECT_EQ(Row(++id), c.expected);

    EXPECT_TRUE(record.Insert(table_.get(), true));
    EXPECT_EQ(table_->State(), dsBrowse);
    EXPECT_EQ(Row(++id), c.expected);
  }
  // The run by statements deletes the project's rows before it adds them again.
  TZnFFSRecord record;
  Prepare(record);
  EXPECT_EQ(ExecSQL("Delete From FromExcel  Where Project = " +
                    record.ByName("Project")->GetAsSQLConstant()),
            id);
  EXPECT_EQ(Rows(), 0);
}

// Texts reach the database exactly as the statement renders them (trimmed, quotes
// doubled) and exactly as they are through the table.
TEST_P(RecordInsertTest, TextsWithQuotesBackslashesCyrillicAndControls) {
  const std::string texts[] = {
      "O'Brien",
      "'quoted'",
      "C:\\Data\\svod.txt",
      "\\'; DROP TABLE FromExcel; --",
      "Цистерна № 5 (ёЁ)",
      "tab\tand\r\nbreak",
      "bell\x07x",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    TZnFFSRecord record;
    Prepare(record);
    record.ByName("Designation")->SetAsString(text);
    record.ByName("Frame")->SetAsString("  " + text + "  ");
    EXPECT_EQ(ExecSQL(record.InsertSQL("FromExcel")), 1);
    QSqlQuery q = testsupport::Exec(
        db_->database(), "SELECT Designation, Frame FROM FromExcel ORDER BY ID DESC LIMIT 1");
    ASSERT_TRUE(q.next());
    EXPECT_EQ(Std(q.value(0).toString()), text);
    EXPECT_EQ(Std(q.value(1).toString()), text);  // the literal is trimmed

    EXPECT_TRUE(record.Insert(table_.get(), true));
    q = testsupport::Exec(db_->database(),
                          "SELECT Designation, Frame FROM FromExcel ORDER BY ID DESC LIMIT 1");
    ASSERT_TRUE(q.next());
    EXPECT_EQ(Std(q.value(0).toString()), text);
    EXPECT_EQ(Std(q.value(1).toString()), "  " + text + "  ");  // the raw value
  }
  EXPECT_EQ(Rows(), 2 * static_cast<int>(std::size(texts)));
}

TEST_P(RecordInsertTest, ReadOnlyKeyIsWrittenAndMadeReadOnlyAgain) {
  TZnFFSRecord record;
  record.Add("ID", "int", false, Variant(77), Variant::Null(), true);
  record.Add("Tank", "str", false, Variant("with id"), Variant::Null(), true);
  EXPECT_TRUE(record.Insert(table_.get(), true));
  EXPECT_TRUE(table_->FindField("ID")->ReadOnly());
  EXPECT_EQ(Std(Scalar(db_->database(), "SELECT Tank FROM FromExcel WHERE ID = 77").toString()),
            "with id");
}

TEST_P(RecordInsertTest, MissingColumnsAreSkipped) {
  TZnFFSRecord record;
  record.Add("NoSuchColumn", "str", false, Variant("lost"), Variant::Null(), true);
  record.Add("Tank", "str", false, Variant("kept"), Variant::Null(), true);
  EXPECT_TRUE(record.Insert(table_.get(), true));
  EXPECT_EQ(Rows(), 1);

  // Nothing to store: the row this call began is cancelled.
  TZnFFSRecord none;
  none.Add("NoSuchColumn", "str", false, Variant("lost"), Variant::Null(), true);
  EXPECT_FALSE(none.Insert(table_.get(), true));
  EXPECT_EQ(table_->State(), dsBrowse);
  EXPECT_EQ(Rows(), 1);

  // A row already being inserted is filled, and left alone when nothing fits it.
  table_->Insert();
  table_->FindField("Deck")->SetValue("D1");
  EXPECT_FALSE(none.Insert(table_.get(), true));
  EXPECT_EQ(table_->State(), dsInsert);
  EXPECT_TRUE(record.Insert(table_.get(), false));
  EXPECT_EQ(table_->State(), dsInsert);
  table_->Post();
  EXPECT_EQ(Rows(), 2);
  EXPECT_EQ(Std(Scalar(db_->database(), "SELECT Tank FROM FromExcel WHERE Deck = 'D1'").toString()),
            "kept");
}

TEST_P(RecordInsertTest, ValueThatDoesNotSuitItsColumn) {
  TZnFFSRecord record;
  record.Add("Tank", "str", false, Variant("T"), Variant::Null(), true);
  record.Add("LPP", "str", false, Variant("many"), Variant::Null(), true);
  const std::string column = GetParam() == db::Engine::SQLite ? "LPP" : "lpp";
  EXPECT_EQ(ErrorOf([&] { record.Insert(table_.get(), true); }),
            "Invalid value for field '" + column + "'");
  // The row stays in insert state, neither posted nor cancelled.
  EXPECT_EQ(table_->State(), dsInsert);
  EXPECT_EQ(Rows(), 0);
  table_->Cancel();
  EXPECT_EQ(Rows(), 0);
}

TEST_P(RecordInsertTest, NullValuesClearColumns) {
  TZnFFSRecord record;
  record.Add("Tank", "str", false, Variant::Null(), Variant::Null(), true);
  record.Add("Volume", "flt", false, Variant::Null(), Variant::Null(), true);
  record.Add("LPP", "int", false, Variant::Empty(), Variant::Null(), true);
  record.Add("Project", "str", false, Variant("N"), Variant::Null(), true);
  EXPECT_TRUE(record.Insert(table_.get(), true));
  EXPECT_EQ(ExecSQL(record.InsertSQL("FromExcel")), 1);
  EXPECT_EQ(Scalar(db_->database(),
                   "SELECT count(*) FROM FromExcel WHERE Project = 'N' AND Tank IS NULL AND "
                   "Volume IS NULL AND LPP IS NULL")
                .toInt(),
            2);
}

INSTANTIATE_TEST_SUITE_P(Engines, RecordInsertTest,
                         ::testing::Values(db::Engine::SQLite, db::Engine::PostgreSQL),
                         testsupport::EngineName);

}  // namespace
