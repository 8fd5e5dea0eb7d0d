#pragma once
// Helpers shared by the workbook reader tests: a short form of a cell that shows kind and
// value, a sink that collects a sheet's cells, and tables of expected cells.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sheet/Workbook.h"
#include "sheet/XmlText.h"

namespace cell_test {

using sheet::Cell;

// "n:1.5", "s:text", "b:1", "e:#N/A", "d:45000.5", "empty".
inline std::string Describe(const Cell& cell) {
  char number[64];
  std::snprintf(number, sizeof number, "%.17g", cell.number);
  switch (cell.kind) {
    case Cell::Kind::Empty:
      return "empty";
    case Cell::Kind::Number:
      return std::string("n:") + number;
    case Cell::Kind::DateTime:
      return std::string("d:") + number;
    case Cell::Kind::Boolean:
      return std::string("b:") + number;
    case Cell::Kind::Text:
      return "s:" + cell.text;
    case Cell::Kind::Error:
      return "e:" + cell.text;
  }
  return "?";
}

// The reference of a 0-based row and column: (6, 4) -> "E7".
inline std::string Name(std::uint32_t row, std::uint32_t column) {
  std::string letters;
  for (std::uint64_t c = column + 1ull; c > 0; c = (c - 1) / 26) {
    letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
  }
  return letters + std::to_string(row + 1);
}

class CollectingSink : public sheet::CellSink {
 public:
  void OnCell(std::uint32_t row, std::uint32_t column, const Cell& cell) override {
    cells[{row, column}] = cell;
    order.push_back(Name(row, column));
  }
  // "" when there is no cell at the reference.
  std::string At(const std::string& reference) const {
    std::uint32_t row = 0, column = 0;
    if (!sheet::ParseCellReference(reference, row, column)) return "bad reference";
    const auto it = cells.find({row, column});
    return it == cells.end() ? std::string() : Describe(it->second);
  }
  std::map<std::pair<std::uint32_t, std::uint32_t>, Cell> cells;
  std::vector<std::string> order;  // references in the order the cells came
};

// Opens `path` with `open` (sheet::OpenXlsx, sheet::OpenOds ...) and collects one sheet.
template <typename Open>
CollectingSink ReadSheetWith(Open open, const std::string& path, std::size_t index,
                             const sheet::ReaderLimits& limits) {
  auto reader = open(path, limits);
  CollectingSink sink;
  reader->ReadSheet(index, sink);
  return sink;
}

struct CellCase {
  const char* reference;
  const char* expected;  // Describe() of the cell, "" for no cell
};

inline void ExpectCells(const CollectingSink& sink, const std::vector<CellCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reference);
    EXPECT_EQ(sink.At(c.reference), c.expected);
  }
}

// A file that a reader must refuse with a WorkbookError.
struct ReadErrorCase {
  std::string name;
  std::string path;
  bool atOpen;          // the error must come from opening, not from reading a sheet
  std::string message;  // a part of the message
  sheet::ReaderLimits limits = {};
};

using OpenFunction = std::unique_ptr<sheet::WorkbookReader> (*)(const std::string&,
                                                                const sheet::ReaderLimits&);

// Opens each case's file with `open` and reads every sheet: each must end in its error.
inline void ExpectReadErrors(OpenFunction open, const std::vector<ReadErrorCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      auto reader = open(c.path, c.limits);
      EXPECT_FALSE(c.atOpen) << "opened";
      for (std::size_t i = 0; i < reader->SheetNames().size(); ++i) {
        CollectingSink sink;
        reader->ReadSheet(i, sink);
      }
      ADD_FAILURE() << "no error";
    } catch (const sheet::WorkbookError& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
  }
}

// Replays the inputs kept in fuzz/regressions/<reader>/ (inputs that once made a reader
// misbehave): each must open and read, every sheet, or end in a WorkbookError; they run
// under the sanitizers with the rest.
inline void ReplayFuzzRegressions(OpenFunction open, const std::string& reader) {
  const std::filesystem::path dir =
      std::filesystem::path(TANKLOAD_SOURCE_DIR) / "fuzz" / "regressions" / reader;
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no regression inputs in " << dir;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    SCOPED_TRACE(entry.path().filename().string());
    try {
      auto book = open(entry.path().string(), {});
      for (std::size_t i = 0; i < book->SheetNames().size(); ++i) {
        CollectingSink sink;
        try {
          book->ReadSheet(i, sink);
        } catch (const sheet::WorkbookError&) {
        }
      }
    } catch (const sheet::WorkbookError&) {
    }
  }
}

}  // namespace cell_test
