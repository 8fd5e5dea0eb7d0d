// The znsrec forms on a missing field or record: neutral results, no undefined
// behaviour (the sanitizer build runs these too).

#include <gtest/gtest.h>

#include "MemoryDataSet.h"
#include "record/Znsrec.h"
#include "RecordTestSupport.h"

namespace {

TEST(NullField, GettersGiveNeutralResultsAndSettersDoNothing) {
  const TZnFFSField* missing = nullptr;
  EXPECT_TRUE(znsrec::GetIsNull(missing));
  EXPECT_TRUE(znsrec::GetIsEmpty(missing));
  EXPECT_EQ(znsrec::GetAsSQLConstant(missing), "NULL");
  EXPECT_EQ(znsrec::GetAsString(missing), "");
  EXPECT_EQ(znsrec::GetAsFloat(missing), 0.0);
  EXPECT_EQ(znsrec::GetAsInteger(missing), 0);
  EXPECT_EQ(znsrec::GetAsDateTime(missing), 0.0);

  TZnFFSField* target = nullptr;
  TZnFFSField source;
  znsrec::SetDF(target);
  znsrec::Assign(target, &source);
  znsrec::SetType(target, "int");
  znsrec::SetAsString(target, "x");
  znsrec::SetAsInteger(target, 1);
  znsrec::SetAsFloat(target, 1.0);
  znsrec::SetAsDateTime(target, 1.0);
}

TEST(NullField, LookupThatFailsFeedsTheFieldForms) {
  recordtest::ScopedDialect dialect("ACCESS");
  TZnFFSRecord rec;
  rec.Add("Designation", "str", true, Variant::String("D1"), Variant::Null(), true);
  EXPECT_FALSE(znsrec::GetIsNull(rec.ByName("designation")));
  EXPECT_TRUE(znsrec::GetIsNull(rec.ByName("Tank")));
  EXPECT_EQ(znsrec::GetAsSQLConstant(rec.ByName("Tank")), "NULL");
  znsrec::SetAsString(rec.ByName("Tank"), "T1");  // nothing happens
  EXPECT_EQ(rec.GetCount(), 1);

  // The forms pass a valid object through.
  znsrec::SetAsString(rec.ByName("Designation"), "D2");
  EXPECT_EQ(znsrec::GetAsSQLConstant(rec.ByName("Designation")), "'D2'");
}

TEST(NullRecord, EveryOperationGivesTheNeutralResult) {
  TZnFFSRecord* missing = nullptr;
  TZnFFSRecord other;
  other.Add("A", "str");
  TZnFFSField field;
  field.Name = "F";
  recordtest::MemoryDataSet ds({{"A", recordtest::ColumnKind::Text}});
  ds.Open();

  EXPECT_EQ(znsrec::GetCount(missing), 0);
  EXPECT_EQ(znsrec::GetItem(missing, 0), nullptr);
  EXPECT_EQ(znsrec::FieldByName(missing, "A"), nullptr);
  EXPECT_EQ(znsrec::ByName(missing, "A"), nullptr);
  EXPECT_EQ(znsrec::ByNameTail(missing, "A"), nullptr);
  EXPECT_EQ(znsrec::Add(missing, "A", "str", true, Variant::Null(), Variant::Null(), true),
            nullptr);
  EXPECT_EQ(znsrec::Add(missing, "A", "str"), nullptr);
  EXPECT_EQ(znsrec::Add(missing, &field, "G"), nullptr);
  EXPECT_EQ(znsrec::Add(missing, &other, ""), nullptr);
  EXPECT_EQ(znsrec::UpdAdd(missing, "A", "str", true, Variant::Null(), Variant::Null(), true),
            nullptr);
  EXPECT_EQ(znsrec::UpdAdd(missing, &other, ""), nullptr);
  znsrec::Delete(missing, "A");
  znsrec::Assign(missing, &other);
  znsrec::Clear(missing);
  EXPECT_FALSE(znsrec::ScanString(missing, "x\ty", '\t'));
  EXPECT_EQ(znsrec::InsertSQL(missing, "T"), "");
  EXPECT_EQ(znsrec::UpdateSQL(missing, "T", "ID = 1"), "");
  EXPECT_FALSE(znsrec::Insert(missing, &ds, true));
  EXPECT_EQ(ds.insertCalls, 0);
  EXPECT_EQ(other.GetCount(), 1);
}

TEST(NullRecord, FormsForwardToAValidRecord) {
  recordtest::ScopedDialect dialect("ACCESS");
  TZnFFSRecord rec;
  TZnFFSField* a = znsrec::Add(&rec, "A", "str");
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(znsrec::ScanString(&rec, "x", '\t'));
  EXPECT_EQ(znsrec::ByName(&rec, "a"), a);
  EXPECT_EQ(znsrec::InsertSQL(&rec, "T"), "Insert Into T \r\n(A) \nValues \r\n('x')");
  znsrec::Delete(&rec, "A");
  EXPECT_EQ(znsrec::GetCount(&rec), 0);
}

}  // namespace
