// Storing a record into a dataset row: states, read-only columns, refused values.

#include <gtest/gtest.h>

#include "MemoryDataSet.h"
#include "platform/Exception.h"
#include "record/Znsrec.h"

namespace {

using recordtest::ColumnKind;
using recordtest::ColumnSpec;
using recordtest::MemoryDataSet;

// Tank (text), Volume (float), LPP (integer), Hidden (not stored), Extra (no column).
void AddRecordFields(TZnFFSRecord& rec) {
  rec.Add("Tank", "str", true, Variant::String("T1"), Variant::Null(), true);
  rec.Add("Volume", "flt", true, Variant::Double(12.5), Variant::Null(), true);
  rec.Add("LPP", "int", false, Variant::Integer(142), Variant::Null(), true);
  rec.Add("Hidden", "str", true, Variant::String("h"), Variant::Null(), false);
  rec.Add("Extra", "str", true, Variant::String("e"), Variant::Null(), true);
}

std::vector<ColumnSpec> Columns() {
  return {{"TANK", ColumnKind::Text},
          {"Volume", ColumnKind::Float},
          {"LPP", ColumnKind::Integer},
          {"Hidden", ColumnKind::Text},
          {"Note", ColumnKind::Text}};
}

TEST(DatasetInsert, NewRowFilledAndPosted) {
  TZnFFSRecord rec;
  AddRecordFields(rec);
  MemoryDataSet ds(Columns());
  ds.Open();
  ds.rows.push_back(
      {Variant::String("old"), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null()});

  EXPECT_TRUE(rec.Insert(&ds, true));
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.insertCalls, 1);
  EXPECT_EQ(ds.postCalls, 1);
  ASSERT_EQ(ds.rows.size(), 2u);
  const MemoryDataSet::Row& row = ds.rows[0];  // inserted at the current position
  EXPECT_EQ(row[0], Variant::String("T1"));
  EXPECT_EQ(row[1], Variant::Double(12.5));
  EXPECT_EQ(row[2], Variant::Integer(142));
  EXPECT_TRUE(row[3].IsNull());  // NoStore: not written
  EXPECT_TRUE(row[4].IsNull());
}

TEST(DatasetInsert, WithoutPostTheRowStaysOpenForTheCaller) {
  TZnFFSRecord rec;
  AddRecordFields(rec);
  MemoryDataSet ds(Columns());
  ds.Open();
  EXPECT_TRUE(rec.Insert(&ds, false));
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_EQ(ds.postCalls, 0);
  EXPECT_TRUE(ds.rows.empty());
  EXPECT_EQ(ds.FindField("Volume")->Value(), Variant::Double(12.5));
  ds.Post();
  EXPECT_EQ(ds.rows.size(), 1u);
}

TEST(DatasetInsert, RowAlreadyBeingInsertedOrEditedIsFilled) {
  for (const TDataSetState state : {dsInsert, dsEdit}) {
    SCOPED_TRACE(state == dsInsert ? "insert state" : "edit state");
    TZnFFSRecord rec;
    AddRecordFields(rec);
    MemoryDataSet ds(Columns());
    ds.Open();
    ds.rows.push_back({Variant::String("old"), Variant::Double(1.0), Variant::Integer(1),
                       Variant::String("keep"), Variant::String("note")});
    if (state == dsInsert) {
      ds.Insert();
    } else {
      ds.Edit();
    }
    const int insertsBefore = ds.insertCalls;

    EXPECT_TRUE(rec.Insert(&ds, false));
    EXPECT_EQ(ds.insertCalls, insertsBefore);
    EXPECT_EQ(ds.State(), state);
    EXPECT_EQ(ds.FindField("Tank")->Value(), Variant::String("T1"));
    EXPECT_EQ(ds.FindField("LPP")->Value(), Variant::Integer(142));
  }
}

TEST(DatasetInsert, NothingStoredCancelsOnlyARowItBegan) {
  TZnFFSRecord unrelated;
  unrelated.Add("Other", "str", true, Variant::String("x"), Variant::Null(), true);
  TZnFFSRecord allNoStore;
  AddRecordFields(allNoStore);
  for (const auto& f : allNoStore.Fields) f->NoStore = true;

  for (TZnFFSRecord* rec : {&unrelated, &allNoStore}) {
    SCOPED_TRACE(rec == &unrelated ? "no field names a column" : "every field NoStore");
    MemoryDataSet ds(Columns());
    ds.Open();
    EXPECT_FALSE(rec->Insert(&ds, true));
    EXPECT_EQ(ds.insertCalls, 1);
    EXPECT_EQ(ds.cancelCalls, 1);
    EXPECT_EQ(ds.postCalls, 0);
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_TRUE(ds.rows.empty());

    ds.Insert();
    ds.FindField("Note")->SetValue(Variant::String("mine"));
    EXPECT_FALSE(rec->Insert(&ds, true));
    EXPECT_EQ(ds.cancelCalls, 1);  // the caller's row is left alone
    EXPECT_EQ(ds.State(), dsInsert);
    EXPECT_EQ(ds.FindField("Note")->Value(), Variant::String("mine"));
  }
}

TEST(DatasetInsert, NullOrClosedDatasetBeginsNoRow) {
  TZnFFSRecord rec;
  AddRecordFields(rec);
  EXPECT_FALSE(rec.Insert(nullptr, true));
  MemoryDataSet closed(Columns());
  EXPECT_FALSE(rec.Insert(&closed, true));
  EXPECT_EQ(closed.insertCalls, 0);
  EXPECT_EQ(closed.State(), dsInactive);
}

TEST(DatasetInsert, NullValueClearsTheColumn) {
  TZnFFSRecord rec;
  rec.Add("Tank", "str", true, Variant::Null(), Variant::Null(), true);
  MemoryDataSet ds(Columns());
  ds.Open();
  ds.rows.push_back(
      {Variant::String("old"), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null()});
  ds.Edit();
  EXPECT_TRUE(rec.Insert(&ds, true));
  EXPECT_TRUE(ds.rows[0][0].IsNull());
}

TEST(DatasetInsert, ReadOnlyColumns) {
  struct Case {
    const char* name;
    bool locked;
    bool stored;
  };
  const Case cases[] = {
      {"flag can be lifted: value stored, read-only again", false, true},
      {"flag cannot be lifted: column skipped", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TZnFFSRecord rec;
    AddRecordFields(rec);
    std::vector<ColumnSpec> columns = Columns();
    columns[1].readOnly = true;
    columns[1].flagLocked = c.locked;
    MemoryDataSet ds(columns);
    ds.Open();

    EXPECT_TRUE(rec.Insert(&ds, true));
    ASSERT_EQ(ds.rows.size(), 1u);
    EXPECT_EQ(ds.rows[0][1], c.stored ? Variant::Double(12.5) : Variant::Null());
    EXPECT_TRUE(ds.FindField("Volume")->ReadOnly());
    EXPECT_EQ(ds.rows[0][0], Variant::String("T1"));
  }
}

TEST(DatasetInsert, OnlyReadOnlyLockedColumnsMeansNothingStored) {
  TZnFFSRecord rec;
  rec.Add("Volume", "flt", true, Variant::Double(1.0), Variant::Null(), true);
  std::vector<ColumnSpec> columns = Columns();
  columns[1].readOnly = true;
  columns[1].flagLocked = true;
  MemoryDataSet ds(columns);
  ds.Open();
  EXPECT_FALSE(rec.Insert(&ds, true));
  EXPECT_EQ(ds.cancelCalls, 1);
  EXPECT_TRUE(ds.rows.empty());
}

TEST(DatasetInsert, RefusedValueRaisesAndLeavesTheRowOpen) {
  TZnFFSRecord rec;
  AddRecordFields(rec);
  rec.ByName("LPP")->SetAsString("not a number");
  MemoryDataSet ds(Columns());
  ds.Open();
  try {
    rec.Insert(&ds, true);
    FAIL() << "expected EDatabaseError";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Invalid value for field 'LPP'");
  }
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_EQ(ds.postCalls, 0);
  EXPECT_EQ(ds.cancelCalls, 0);
  EXPECT_EQ(ds.FindField("Tank")->Value(), Variant::String("T1"));  // stored before the error
}

TEST(DatasetInsert, RefusedValueInALiftedColumnLeavesItReadOnly) {
  TZnFFSRecord rec;
  AddRecordFields(rec);
  rec.ByName("Volume")->SetAsString("abc");
  std::vector<ColumnSpec> columns = Columns();
  columns[1].readOnly = true;
  MemoryDataSet ds(columns);
  ds.Open();
  EXPECT_THROW(rec.Insert(&ds, true), EDatabaseError);
  EXPECT_TRUE(ds.FindField("Volume")->ReadOnly());
}

TEST(DatasetInsert, PostErrorReachesTheCaller) {
  TZnFFSRecord rec;
  rec.Add("Tank", "str", true, Variant::String("T1"), Variant::Null(), true);
  std::vector<ColumnSpec> columns = Columns();
  columns[2].required = true;  // LPP, which the record does not fill
  MemoryDataSet ds(columns);
  ds.Open();
  EXPECT_THROW(rec.Insert(&ds, true), EDatabaseError);
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_TRUE(ds.rows.empty());
  EXPECT_TRUE(rec.Insert(&ds, false));  // the same row, filled again, is still open
  EXPECT_EQ(ds.insertCalls, 1);
}

}  // namespace
