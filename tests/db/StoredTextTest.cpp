// Texts are stored exactly as read, and the same whichever way a row is written: by an
// INSERT statement (the run by SQL statements) or through the table (the run through
// the table). Compared byte by byte in the database, not as Qt reads them back.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/Database.h"
#include "tests/db/DbTestSupport.h"
#include "tests/platform/TestSupport.h"

namespace {

using dbtest::ExecQuery;
using testsupport::BothEngines;
using testsupport::Scalar;

struct StoredText {
  const char* name;
  std::string given;
  std::string stored;
};

std::vector<StoredText> Texts() {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string replacement = "\xEF\xBF\xBD";  // U+FFFD
  return {
      {"byte order mark first", bom + "Tank 1", bom + "Tank 1"},
      {"byte order mark last", "Tank 1" + bom, "Tank 1" + bom},
      {"byte order mark inside", "Tank" + bom + "1", "Tank" + bom + "1"},
      {"two byte order marks", bom + bom, bom + bom},
      {"only a byte order mark", bom, bom},
      {"backslashes", "C:\\Data\\new", "C:\\Data\\new"},
      {"backslash before a quote", "\\'", "\\'"},
      {"quotes", "O'Brien ''", "O'Brien ''"},
      {"Cyrillic", "Цистерна № 5, ёЁ", "Цистерна № 5, ёЁ"},
      {"outside the basic plane", "\xF0\x9F\x9A\xA2 ship", "\xF0\x9F\x9A\xA2 ship"},
      {"combining accent", "e\xCC\x81", "e\xCC\x81"},
      {"noncharacter U+FFFE", "\xEF\xBF\xBE", "\xEF\xBF\xBE"},
      {"zero-width and no-break spaces", "a\xE2\x80\x8B\xC2\xA0z", "a\xE2\x80\x8B\xC2\xA0z"},
      // Ill-formed UTF-8, should it reach the database: each bad sequence becomes U+FFFD
      // on both ways, and the byte order mark stays.
      {"byte order mark then a bad byte", bom + "\xFF", bom + replacement},
      {"bad byte then a byte order mark", "\xFF" + bom, replacement + bom},
  };
}

std::string Hex(const std::string& bytes) {
  static const char* const digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char ch : bytes) {
    out += digits[ch >> 4];
    out += digits[ch & 15];
  }
  return out;
}

// The bytes that the database holds in Tank of the newest row of `project`, in hex.
std::string StoredHex(const QSqlDatabase& reader, db::Engine engine, const std::string& project) {
  const std::string bytes =
      engine == db::Engine::SQLite ? "hex(Tank)" : "upper(encode(convert_to(Tank, 'UTF8'), 'hex'))";
  return testsupport::Std(Scalar(reader, "SELECT " + bytes + " FROM FromExcel WHERE Project = " +
                                             dbtest::Literal(project) + " ORDER BY ID DESC LIMIT 1")
                              .toString());
}

// Writes each text both ways on `connection` and compares what `reader` finds stored.
void ExpectStoredExactly(db::Connection& connection, const QSqlDatabase& reader,
                         const std::vector<StoredText>& texts) {
  db::Table table(connection);
  table.SetTableName("FromExcel");
  table.Open();
  for (const StoredText& t : texts) {
    SCOPED_TRACE(t.name);
    EXPECT_EQ(ExecQuery(connection, dbtest::InsertText(t.given, "by statement")), 1);
    table.Insert();
    table.FindField("Tank")->SetValue(Variant(t.given));
    table.FindField("Project")->SetValue("through the table");
    table.Post();
    EXPECT_EQ(StoredHex(reader, connection.engine(), "by statement"), Hex(t.stored));
    EXPECT_EQ(StoredHex(reader, connection.engine(), "through the table"), Hex(t.stored));
  }
}

class StoredTextTest : public BothEngines {
 protected:
  void SetUp() override {
    BothEngines::SetUp();
    if (IsSkipped()) return;
    db::CreateSchema(db_->connection());
  }
};

TEST_P(StoredTextTest, BothWaysStoreTheSameBytes) {
  ExpectStoredExactly(db_->connection(), db_->database(), Texts());
}

INSTANTIATE_TEST_SUITE_P(Engines, StoredTextTest,
                         ::testing::Values(db::Engine::SQLite, db::Engine::PostgreSQL),
                         testsupport::EngineName);

// A server whose sessions start with the old escaping of backslashes (as with
// standard_conforming_strings off in its configuration; here from the client's
// environment): the session is switched before Qt's driver looks, so backslashes are
// stored single both ways. The options of the environment are kept besides.
TEST(StoredText, PostgresWithOldEscapingByDefault) {
  TANKLOAD_REQUIRE_PG();
  testsupport::TestDatabase database(db::Engine::PostgreSQL);
  db::CreateSchema(database.connection());
  const std::string options =
      "-c standard_conforming_strings=off -c search_path=" + database.schema();
  testsupport::ScopedEnv environment("PGOPTIONS", options.c_str());
  db::Connection connection(testsupport::PgConnectionString());
  connection.Open();
  EXPECT_EQ(testsupport::Std(
                Scalar(connection.Database(), "SHOW standard_conforming_strings").toString()),
            "on");
  EXPECT_EQ(testsupport::Std(Scalar(connection.Database(), "SHOW search_path").toString()),
            database.schema());
  ExpectStoredExactly(connection, database.database(),
                      {{"designation", "C:\\Data", "C:\\Data"},
                       {"backslash before a quote", "\\'", "\\'"},
                       {"ends with a backslash", "Data\\", "Data\\"}});
}

}  // namespace
