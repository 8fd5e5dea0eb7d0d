// The cells of a line, for lines of any length and any mix of separators and line
// breaks, against the plain reading of the rule: the separator becomes a line feed and
// the text is broken into lines (a piece ends at CR or LF; CR LF counts as one break;
// a break at the very end gives no further line; reading stops at a NUL).

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "record/Znsrec.h"

namespace {

std::vector<std::string> ReferenceCells(const std::string& line, char separator) {
  // A blank line (a NUL counts as blank, whatever follows it) has no cells.
  bool blank = true;
  for (char c : line) blank = blank && static_cast<unsigned char>(c) <= 32;
  if (blank) return {};
  std::string text = line.substr(0, line.find('\0'));
  if (separator != '\0') {
    for (char& c : text) {
      if (c == separator) c = '\n';
    }
  }
  std::vector<std::string> cells;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] != '\r' && text[pos] != '\n') ++pos;
    cells.push_back(text.substr(start, pos - start));
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
  }
  return cells;
}

TEST(SplitCells, AnyLineAsTheLineRuleReadsIt) {
  // Pieces that put breaks at every offset of a machine word, multi-byte letters among
  // them.
  const std::vector<std::string> pieces = {"a", "bc", "Цистерна", "12,5", " ",    "\t",       "\t",
                                           ";", "\r", "\n",       "\r\n", "\t\t", "xxxxxxxxx"};
  std::mt19937 rng(4242);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(0, 40);
  std::uniform_int_distribution<int> rare(0, 30);
  TZnFFSRecord rec;
  rec.Add("A", "char");
  int mismatches = 0;
  for (int i = 0; i < 10000; ++i) {
    std::string line;
    for (int n = length(rng); n > 0; --n) {
      line += pieces[pick(rng)];
      if (rare(rng) == 0) line.push_back('\0');
    }
    for (char separator : {'\t', ';', '\r', '\n', '\0'}) {
      rec.ScanString(line, separator);
      if (rec.Cells != ReferenceCells(line, separator) && ++mismatches <= 5) {
        ADD_FAILURE() << "separator " << static_cast<int>(separator) << ", line of " << line.size()
                      << " bytes";
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
