// INSERT and UPDATE text, byte for byte.

#include <gtest/gtest.h>

#include "record/Znsrec.h"
#include "RecordTestSupport.h"

namespace {

using recordtest::ScopedDialect;

// Tank holding the text T1 and Volume holding the number 12.5.
void AddTankAndVolume(TZnFFSRecord& rec) {
  rec.Add("Tank", "str", true, Variant::String("T1"), Variant::Null(), true);
  rec.Add("Volume", "flt", true, Variant::Double(12.5), Variant::Null(), true)->Format = "0.00";
}

TEST(SqlText, InsertOfTheFourLineExample) {
  ScopedDialect dialect("ACCESS");
  TZnFFSRecord rec;
  AddTankAndVolume(rec);
  EXPECT_EQ(rec.InsertSQL("FromExcel"),
            "Insert Into FromExcel \r\n"
            "(Tank ,Volume) \n"
            "Values \r\n"
            "('T1' ,12.5000000)");
}

TEST(SqlText, UpdateWithAndWithoutCondition) {
  ScopedDialect dialect("ACCESS");
  TZnFFSRecord rec;
  AddTankAndVolume(rec);
  const std::string assignments =
      "Update FromExcel Set \r\n"
      "  Tank = 'T1' \r\n"
      " ,Volume = 12.5000000 \r\n";
  struct Case {
    const char* name;
    const char* where;
    std::string expected;
  };
  const Case cases[] = {
      {"empty condition", "", assignments},
      {"blank condition", " \t\r\n", assignments},
      {"condition", "ID = 1", assignments + "Where ID = 1"},
      {"condition kept untrimmed", " ID = 1 ", assignments + "Where  ID = 1 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(rec.UpdateSQL("FromExcel", c.where), c.expected);
  }
}

TEST(SqlText, OnlyStoredFieldsInLayoutOrderNullAsNULL) {
  ScopedDialect dialect("ACCESS");
  TZnFFSRecord rec;
  rec.Add("Skip1", "str", true, Variant::String("s"), Variant::Null(), false);
  rec.Add("B", "str", true, Variant::Null(), Variant::Null(), true);
  rec.Add("Skip2", "int", true, Variant::Integer(1), Variant::Null(), false);
  rec.Add("C", "int", false, Variant::Integer(3), Variant::Null(), true);
  rec.Add("D", "str", true, Variant::String("it's"), Variant::Null(), true);
  rec.Add("Skip3", "int", true, Variant::Integer(1), Variant::Null(), false);

  EXPECT_EQ(rec.InsertSQL("T"), "Insert Into T \r\n(B ,C ,D) \nValues \r\n(NULL ,3 ,'it''s')");
  EXPECT_EQ(rec.UpdateSQL("T", "ID = 2"),
            "Update T Set \r\n  B = NULL \r\n ,C = 3 \r\n ,D = 'it''s' \r\nWhere ID = 2");
}

TEST(SqlText, OneStoredFieldHasNoSeparator) {
  ScopedDialect dialect("ACCESS");
  TZnFFSRecord rec;
  rec.Add("Only", "int", true, Variant::Integer(-4), Variant::Null(), true);
  EXPECT_EQ(rec.InsertSQL("T"), "Insert Into T \r\n(Only) \nValues \r\n(-4)");
  EXPECT_EQ(rec.UpdateSQL("T", ""), "Update T Set \r\n  Only = -4 \r\n");
}

TEST(SqlText, NothingToStoreGivesEmptyTexts) {
  ScopedDialect dialect("ACCESS");
  TZnFFSRecord none;
  EXPECT_EQ(none.InsertSQL("T"), "");
  EXPECT_EQ(none.UpdateSQL("T", "ID = 1"), "");

  TZnFFSRecord allNoStore;
  AddTankAndVolume(allNoStore);
  for (const auto& f : allNoStore.Fields) f->NoStore = true;
  EXPECT_EQ(allNoStore.InsertSQL("T"), "");
  EXPECT_EQ(allNoStore.UpdateSQL("T", "ID = 1"), "");
}

TEST(SqlText, TableAndNamesAreWrittenAsGiven) {
  ScopedDialect dialect("ACCESS");
  TZnFFSRecord rec;
  rec.Add("Объём", "flt", true, Variant::Double(-2.0), Variant::Null(), true);
  rec.GetItem(0)->Name = " spaced name ";
  EXPECT_EQ(rec.InsertSQL(" my table "),
            "Insert Into  my table  \r\n( spaced name ) \nValues \r\n(-2.0000000)");
  EXPECT_EQ(rec.UpdateSQL("", ""), "Update  Set \r\n   spaced name  = -2.0000000 \r\n");
}

TEST(SqlText, NumbersKeepADecimalPointUnderACommaLocale) {
  ScopedDialect dialect("ACCESS");
  platform::ScopedFormatSettings fs(recordtest::CommaSettings());
  TZnFFSRecord rec;
  AddTankAndVolume(rec);
  EXPECT_EQ(rec.InsertSQL("FromExcel"),
            "Insert Into FromExcel \r\n(Tank ,Volume) \nValues \r\n('T1' ,12.5000000)");
}

TEST(SqlText, ImportLayoutWritesTwentyThreeColumns) {
  ScopedDialect dialect("ACCESS");
  platform::ScopedFormatSettings fs(recordtest::CommaSettings());
  TZnFFSRecord rec;
  recordtest::AddImportLayout(rec);
  rec.ByName("Tank")->SetAsString("Цистерна №1");
  rec.ScanString("1\tb\t45-52\tПрБ\t2\t12,5\t0.98\t\t\t\t\t\t\t\t\t\t\t\ts\t3\t-4", '\t');
  EXPECT_EQ(rec.InsertSQL("FromExcel"),
            "Insert Into FromExcel \r\n"
            "(Tank ,Designation ,Frame ,Board ,Deck ,Volume ,Fperm ,Volume_Netto ,"
            "SpecificWeight ,FactorExpansion ,AccountDeadStock ,DeadSstock ,AccountSstock ,"
            "Xpvm ,Ypvm ,Zpvm ,Mx ,Mz ,dmh ,dM ,LPP ,Project ,Variant) \n"
            "Values \r\n"
            "('Цистерна №1' ,'1' ,'45-52' ,'ПрБ' ,'2' ,12.5000000 ,0.9800000 ,NULL ,NULL ,"
            "NULL ,NULL ,NULL ,NULL ,NULL ,NULL ,NULL ,NULL ,NULL ,3.0000000 ,-4.0000000 ,142 ,"
            "'TOrva_1' ,45444)");
}

}  // namespace
