// TZnFFSRecord: lookup by name, adding, updating, copying and removing fields.

#include <gtest/gtest.h>

#include <vector>

#include "record/Znsrec.h"

namespace {

std::vector<std::string> NamesOf(const TZnFFSRecord& rec) {
  std::vector<std::string> names;
  for (const auto& field : rec.Fields) names.push_back(field->Name);
  return names;
}

TZnFFSField* AddText(TZnFFSRecord& rec, const std::string& name, const std::string& value) {
  TZnFFSField* field = rec.Add(name, "str", true, Variant::String(value), Variant::Null(), true);
  return field;
}

TEST(RecordLookup, MatchesTrimmedNamesInAnyCaseCyrillicIncluded) {
  TZnFFSRecord rec;
  TZnFFSField* tank = AddText(rec, "Tank", "");
  TZnFFSField* volume = AddText(rec, "Объём", "");
  TZnFFSField* capacity = AddText(rec, "ёмкость_Ж", "");
  struct Case {
    const char* name;
    TZnFFSField* expected;
  };
  const Case cases[] = {
      {"Tank", tank},     {" tank ", tank},    {"TANK", tank},      {"\ttAnK\r\n", tank},
      {"объём", volume},  {"ОБЪЁМ", volume},   {" Объём ", volume}, {"ЁМКОСТЬ_ж", capacity},
      {"объем", nullptr}, {"Volume", nullptr}, {"Tan", nullptr},    {"Tanks", nullptr},
      {"", nullptr},      {"   ", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("name '") + c.name + "'");
    EXPECT_EQ(rec.FieldByName(c.name), c.expected);
    EXPECT_EQ(rec.ByName(c.name), c.expected);
    EXPECT_EQ(rec.ByNameTail(c.name), c.expected);
  }
}

TEST(RecordLookup, DuplicateNamesFirstFromTheFrontLastFromTheBack) {
  TZnFFSRecord rec;
  TZnFFSField* first = AddText(rec, "Tank", "1");
  AddText(rec, "Deck", "");
  TZnFFSField* last = AddText(rec, "TANK", "2");
  EXPECT_EQ(rec.FieldByName("tank"), first);
  EXPECT_EQ(rec.ByNameTail("tank"), last);

  TZnFFSField* updated =
      rec.UpdAdd("tank", "int", false, Variant::Integer(3), Variant::Null(), false);
  EXPECT_EQ(updated, last);
  EXPECT_EQ(rec.GetCount(), 3);
  EXPECT_EQ(first->Value, Variant::String("1"));
}

TEST(RecordLookup, GetItemOutOfRangeIsNull) {
  TZnFFSRecord rec;
  AddText(rec, "A", "");
  AddText(rec, "B", "");
  EXPECT_EQ(rec.GetItem(-1), nullptr);
  EXPECT_EQ(rec.GetItem(rec.GetCount()), nullptr);
  EXPECT_EQ(rec.GetItem(1)->Name, "B");
}

TEST(RecordAdd, SetsEveryAttributeFromTheArguments) {
  TZnFFSRecord rec;
  TZnFFSField* f =
      rec.Add("  Volume \t", "Double", false, Variant::Double(1.5), Variant::Double(-1.0), false);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->Name, "Volume");
  EXPECT_EQ(f->Type, "float");
  EXPECT_EQ(f->Value, Variant::Double(1.5));
  EXPECT_EQ(f->DefValue, Variant::Double(-1.0));
  EXPECT_TRUE(f->NoScan);
  EXPECT_TRUE(f->NoStore);
  EXPECT_EQ(f->Format, "");

  TZnFFSField* g = rec.Add("Deck", "str");
  EXPECT_EQ(g->Type, "varchar");
  EXPECT_FALSE(g->NoScan);
  EXPECT_FALSE(g->NoStore);
  EXPECT_TRUE(g->GetIsNull());
  EXPECT_TRUE(g->DefValue.IsNull());
}

TEST(RecordAdd, BlankNameAddsNothingAndSameNameAddsAgain) {
  TZnFFSRecord rec;
  EXPECT_EQ(rec.Add(" \t ", "str", true, Variant::Null(), Variant::Null(), true), nullptr);
  EXPECT_EQ(rec.UpdAdd("", "str", true, Variant::Null(), Variant::Null(), true), nullptr);
  EXPECT_EQ(rec.GetCount(), 0);
  AddText(rec, "Tank", "");
  AddText(rec, "Tank", "");
  EXPECT_EQ(rec.GetCount(), 2);
}

TEST(RecordUpdAdd, UpdatesTheExistingFieldKeepingItsFormat) {
  TZnFFSRecord rec;
  TZnFFSField* f = rec.Add("Volume", "flt", true, Variant::Null(), Variant::Null(), true);
  f->Format = "0.00";
  f->Tag1 = 9;
  TZnFFSField* g =
      rec.UpdAdd(" VOLUME ", "int", false, Variant::Integer(4), Variant::Integer(0), false);
  EXPECT_EQ(g, f);
  EXPECT_EQ(rec.GetCount(), 1);
  EXPECT_EQ(f->Name, "VOLUME");
  EXPECT_EQ(f->Type, "integer");
  EXPECT_EQ(f->Value, Variant::Integer(4));
  EXPECT_EQ(f->DefValue, Variant::Integer(0));
  EXPECT_TRUE(f->NoScan);
  EXPECT_TRUE(f->NoStore);
  EXPECT_EQ(f->Format, "0.00");
  EXPECT_EQ(f->Tag1, 9);

  TZnFFSField* h = rec.UpdAdd("Deck", "str", true, Variant::Null(), Variant::Null(), true);
  EXPECT_EQ(rec.GetCount(), 2);
  EXPECT_EQ(rec.GetItem(1), h);
}

TEST(RecordAddCopy, CopiesAFieldUnderANewOrItsOwnName) {
  TZnFFSRecord rec;
  TZnFFSField source;
  source.Name = "Volume";
  source.SetType("flt");
  source.SetAsFloat(2.5);
  source.Format = "0.00";

  TZnFFSField* renamed = rec.Add(&source, "  Volume_Netto ");
  ASSERT_NE(renamed, nullptr);
  EXPECT_NE(renamed, &source);
  EXPECT_EQ(renamed->Name, "Volume_Netto");
  EXPECT_EQ(renamed->Value, Variant::Double(2.5));
  EXPECT_EQ(renamed->Format, "0.00");

  source.Name = " spaced ";
  TZnFFSField* same = rec.Add(&source, "  ");
  EXPECT_EQ(same->Name, " spaced ");

  EXPECT_EQ(rec.Add(static_cast<const TZnFFSField*>(nullptr), "X"), nullptr);
  EXPECT_EQ(rec.GetCount(), 2);

  // A field of the record itself can be added again.
  TZnFFSField* again = rec.Add(rec.GetItem(0), "Copy");
  EXPECT_EQ(again->Value, Variant::Double(2.5));
  EXPECT_EQ(rec.GetCount(), 3);
}

TZnFFSRecord& SourceRecord() {
  static TZnFFSRecord rec;
  if (rec.GetCount() == 0) {
    AddText(rec, "Tank", "T1");
    AddText(rec, "Volume", "1");
    AddText(rec, "Deck", "2");
    AddText(rec, "tank", "T2");
  }
  return rec;
}

TEST(RecordAddRecord, CopiesTheFieldsTheListNamesInSourceOrder) {
  struct Case {
    const char* name;
    const char* list;
    std::vector<std::string> expected;
    const char* lastValue;  // value of the returned field, nullptr when none
  };
  const Case cases[] = {
      {"empty list copies all", "", {"Tank", "Volume", "Deck", "tank"}, "T2"},
      {"blank list copies all", "  ", {"Tank", "Volume", "Deck", "tank"}, "T2"},
      {"list order does not matter", "deck, TANK", {"Tank", "Deck", "tank"}, "T2"},
      {"one name", "Volume", {"Volume"}, "1"},
      {"names nothing", "Frame;Board", {}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TZnFFSRecord rec;
    TZnFFSField* last = rec.Add(&SourceRecord(), c.list);
    EXPECT_EQ(NamesOf(rec), c.expected);
    if (c.lastValue == nullptr) {
      EXPECT_EQ(last, nullptr);
    } else {
      ASSERT_NE(last, nullptr);
      EXPECT_EQ(last, rec.GetItem(rec.GetCount() - 1));
      EXPECT_EQ(last->Value, Variant::String(c.lastValue));
    }
  }
}

TEST(RecordAddRecord, NullOrSelfSourceAddsNothing) {
  TZnFFSRecord rec;
  AddText(rec, "Tank", "");
  EXPECT_EQ(rec.Add(&rec, ""), nullptr);
  EXPECT_EQ(rec.UpdAdd(&rec, ""), nullptr);
  EXPECT_EQ(rec.Add(static_cast<const TZnFFSRecord*>(nullptr), ""), nullptr);
  EXPECT_EQ(rec.UpdAdd(static_cast<const TZnFFSRecord*>(nullptr), ""), nullptr);
  EXPECT_EQ(rec.GetCount(), 1);
}

TEST(RecordUpdAddRecord, UpdatesMatchingFieldsAndAppendsTheOthers) {
  TZnFFSRecord rec;
  TZnFFSField* tank = AddText(rec, "TANK", "old");
  tank->Format = "kept?";
  AddText(rec, "Frame", "F");

  TZnFFSField* last = rec.UpdAdd(&SourceRecord(), "Tank Volume");
  // Both source fields named Tank update the same field, the second last; Volume is
  // appended in between.
  EXPECT_EQ(NamesOf(rec), (std::vector<std::string>{"tank", "Frame", "Volume"}));
  EXPECT_EQ(tank->Value, Variant::String("T2"));
  EXPECT_EQ(tank->Format, "");  // all attributes come from the source field
  EXPECT_EQ(last, tank);

  EXPECT_EQ(rec.UpdAdd(&SourceRecord(), "Nothing"), nullptr);
  EXPECT_EQ(rec.GetCount(), 3);
}

TEST(RecordDelete, RemovesEveryNamedFieldKeepingTheOrder) {
  struct Case {
    const char* name;
    const char* list;
    std::vector<std::string> expected;
  };
  const std::vector<std::string> all = {"Tank",        "Designation", "Deck", "tank",
                                        "DESIGNATION", "Объём",       "Frame"};
  const Case cases[] = {
      {"comma and blank", "Tank, Designation", {"Deck", "Объём", "Frame"}},
      {"lower case", "tank", {"Designation", "Deck", "DESIGNATION", "Объём", "Frame"}},
      {"Cyrillic in another case",
       "ОБЪЁМ",
       {"Tank", "Designation", "Deck", "tank", "DESIGNATION", "Frame"}},
      {"adjacent removals", "designation;deck;tank", {"Объём", "Frame"}},
      {"empty list", "", all},
      {"blank list", " \t ", all},
      {"unknown name", "Board", all},
      {"part of a name does not count", "Tan", all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TZnFFSRecord rec;
    for (const auto& n : all) AddText(rec, n, "");
    rec.Delete(c.list);
    EXPECT_EQ(NamesOf(rec), c.expected);
  }
}

TEST(RecordCopy, AssignMakesDeepCopiesAndKeepsCells) {
  TZnFFSRecord source;
  AddText(source, "Tank", "T1")->Format = "f";
  source.Add("Volume", "flt", false, Variant::Double(1.5), Variant::Double(0), false);
  source.CellPos = 4;
  source.ScanCount = 2;

  TZnFFSRecord rec;
  AddText(rec, "Old", "");
  rec.Cells = {"kept"};
  rec.Assign(&source);
  ASSERT_EQ(rec.GetCount(), 2);
  EXPECT_NE(rec.GetItem(0), source.GetItem(0));
  EXPECT_EQ(rec.GetItem(0)->Format, "f");
  EXPECT_EQ(rec.GetItem(1)->Type, "float");
  EXPECT_TRUE(rec.GetItem(1)->NoScan);
  EXPECT_TRUE(rec.GetItem(1)->NoStore);
  EXPECT_EQ(rec.CellPos, 4);
  EXPECT_EQ(rec.ScanCount, 2);
  EXPECT_EQ(rec.Cells, std::vector<std::string>{"kept"});

  source.GetItem(0)->SetAsString("changed");
  EXPECT_EQ(rec.GetItem(0)->Value, Variant::String("T1"));

  TZnFFSRecord constructed(&source);
  EXPECT_EQ(NamesOf(constructed), NamesOf(source));
  EXPECT_EQ(constructed.CellPos, 4);
}

TEST(RecordCopy, SelfAssignKeepsAndNullSourceEmpties) {
  TZnFFSRecord rec;
  TZnFFSField* tank = AddText(rec, "Tank", "T1");
  rec.CellPos = 3;
  rec.ScanCount = 1;
  rec.Assign(&rec);
  EXPECT_EQ(rec.GetItem(0), tank);
  EXPECT_EQ(rec.CellPos, 3);

  rec.Cells = {"a", "b"};
  rec.Assign(nullptr);
  EXPECT_EQ(rec.GetCount(), 0);
  EXPECT_EQ(rec.CellPos, 0);
  EXPECT_EQ(rec.ScanCount, 0);
  EXPECT_EQ(rec.Cells.size(), 2u);
}

TEST(RecordClear, RemovesFieldsResetsCountersKeepsCells) {
  TZnFFSRecord rec;
  AddText(rec, "A", "");
  AddText(rec, "B", "");
  rec.CellPos = 2;
  rec.ScanCount = 2;
  rec.Cells = {"x"};
  rec.Clear();
  EXPECT_EQ(rec.GetCount(), 0);
  EXPECT_EQ(rec.CellPos, 0);
  EXPECT_EQ(rec.ScanCount, 0);
  EXPECT_EQ(rec.Cells, std::vector<std::string>{"x"});
}

}  // namespace
