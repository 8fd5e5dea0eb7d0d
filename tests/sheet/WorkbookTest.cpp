// Recognising workbooks by content: the right reader whatever the file is called, and a
// clear cause for everything that is not a workbook the engine reads.

#include "sheet/Workbook.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <utility>

#include "SheetTestSupport.h"

namespace {

using sheet_test::TempDir;
using sheet_test::WriteFile;
using Members = std::vector<std::pair<std::string, std::string>>;

void WriteZip(const std::string& path, const Members& members) {
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(zip, nullptr);
  for (const auto& [name, content] : members) {
    zip_source_t* source = zip_source_buffer(zip, content.data(), content.size(), 0);
    ASSERT_NE(source, nullptr);
    ASSERT_GE(zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE), 0);
  }
  ASSERT_EQ(zip_close(zip), 0);
}

std::string Relationships(const std::string& target) {
  return "<?xml version=\"1.0\"?><Relationships "
         "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
         "relationships/officeDocument\" Target=\"" +
         target + "\"/></Relationships>";
}

std::string ContentTypes(const std::string& part, const std::string& type) {
  return "<?xml version=\"1.0\"?><Types "
         "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Override PartName=\"/" +
         part + "\" ContentType=\"" + type + "\"/></Types>";
}

TEST(OpenWorkbookTest, RecognisesTheFormatByContentNotByName) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string fixture;
    std::string misleadingName;
  } cases[] = {
      {"xlsx named .xls", "tank_summary.xlsx", "book.xls"},
      {"ods named .xlsx", "tank_summary.ods", "book.xlsx"},
      {"xls named .ods", "tank_summary.xls", "book.ods"},
      {"xls without extension", "tank_summary.xls", "book"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(c.misleadingName);
    std::filesystem::copy_file(testsupport::SourcePath("tests/sheet/data") + "/" + c.fixture, path,
                               std::filesystem::copy_options::overwrite_existing);
    const auto reader = sheet::OpenWorkbook(path);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->SheetNames(), (std::vector<std::string>{"Сводка", "Типы"}));
  }
}

TEST(OpenWorkbookTest, NamesTheCauseOfWhatItCannotRead) {
  TempDir dir;
  const std::string xlsb = dir.File("xlsb");
  WriteZip(
      xlsb,
      {{"_rels/.rels", Relationships("xl/workbook.bin")},
       {"[Content_Types].xml",
        ContentTypes("xl/workbook.bin", "application/vnd.ms-excel.sheet.binary.macroEnabled.main")},
       {"xl/workbook.bin", "binary"}});
  const std::string docx = dir.File("docx");
  WriteZip(docx,
           {{"_rels/.rels", Relationships("word/document.xml")},
            {"[Content_Types].xml", ContentTypes("word/document.xml",
                                                 "application/vnd.openxmlformats-officedocument."
                                                 "wordprocessingml.document.main+xml")},
            {"word/document.xml", "<w:document/>"}});
  const std::string odt = dir.File("odt");
  WriteZip(odt, {{"mimetype", "application/vnd.oasis.opendocument.text"},
                 {"content.xml", "<office:document-content/>"}});
  const std::string plainZip = dir.File("zip");
  WriteZip(plainZip, {{"readme.txt", "hello"}});
  const std::string empty = dir.File("empty");
  WriteFile(empty, "");
  const std::string text = dir.File("text");
  WriteFile(text, "Цистерна\t1,5\r\n");
  const std::string biff4 = dir.File("biff4");
  WriteFile(biff4, std::string("\x09\x04\x06\x00\x00\x00\x10\x00", 8));

  struct Case {
    const char* name;
    std::string path;
    std::string cause;
  } cases[] = {
      {"binary workbook", xlsb, ".xlsb"},
      {"word processing document", docx, "wordprocessingml"},
      {"OpenDocument text", odt, "not a spreadsheet"},
      {"zip of other files", plainZip, "zip archive without a spreadsheet"},
      {"empty file", empty, "is empty"},
      {"text file", text, "Not a workbook"},
      {"Excel 4 worksheet", biff4, "Excel 2.1-4.0"},
      {"encrypted workbook", testsupport::SourcePath("tests/sheet/data") + "/encrypted.xlsx",
       "Encrypted workbook"},
      {"missing file", dir.File("absent.xlsx"), "Cannot read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      sheet::OpenWorkbook(c.path);
      ADD_FAILURE() << "opened";
    } catch (const sheet::WorkbookError& e) {
      EXPECT_NE(std::string(e.what()).find(c.cause), std::string::npos) << e.what();
    }
  }
}

}  // namespace

namespace {

// A password-protected workbook of each format is told by its error type, not by the
// words of its message; every workbook error is one of the platform's exceptions.
TEST(OpenWorkbook, EncryptedWorkbooksOfEveryFormatHaveTheirOwnError) {
  const std::string files[] = {
      testsupport::SourcePath("tests/sheet/data") + "/encrypted.xlsx",
      testsupport::SourcePath("tests/sheet/data") + "/xls/bad_encrypted.xls",
      testsupport::SourcePath("tests/sheet/data") + "/ods/encrypted.ods",
  };
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    EXPECT_THROW(sheet::OpenWorkbook(file), sheet::EncryptedWorkbookError);
  }
  const std::string notEncrypted =
      testsupport::SourcePath("tests/sheet/data") + "/xls/bad_no_workbook.xls";
  try {
    sheet::OpenWorkbook(notEncrypted);
    ADD_FAILURE() << "opened";
  } catch (const sheet::EncryptedWorkbookError& e) {
    ADD_FAILURE() << "taken for encrypted: " << e.what();
  } catch (const Exception& e) {
    EXPECT_NE(dynamic_cast<const sheet::WorkbookError*>(&e), nullptr) << e.what();
  }
}

}  // namespace
