// The import report: what a scan left behind (cells that did not convert, lines skipped
// for column B, surplus cells, a file without data lines), as the log's block, the bottom
// bar's line, the refusal of a strict run and the lines of the report file.
#include <string>
#include <vector>

#include "app/ImportRuns.h"  // ImportReport, ReportEntry
#include "platform/NumberFormat.h"
#include "platform/Text.h"

namespace app {

std::string ColumnLetters(int column) {
  std::string letters;
  for (int n = column; n > 0; n = (n - 1) / 26) {
    letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
  }
  return letters;
}

namespace {

const char* KindName(ReportEntry::Kind kind) {
  switch (kind) {
    case ReportEntry::Kind::Unconverted:
      return "unconverted";
    case ReportEntry::Kind::SkippedColumnB:
      return "skipped-column-b";
    case ReportEntry::Kind::SurplusCells:
      return "surplus-cells";
    case ReportEntry::Kind::NoDataLines:
      return "no-data-lines";
  }
  return "";
}

// A text as one tab-separated field: tabs and line breaks become blanks.
std::string FieldText(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

// A cell's text as the log shows it: a long one is cut (at a character boundary) so that
// one stray cell cannot flood the log; the report file keeps it whole.
std::string Shown(const std::string& text) {
  constexpr std::size_t kLongest = 80;
  if (text.size() <= kLongest) return text;
  std::size_t end = kLongest;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end) + "…";
}

std::string Place(const ReportEntry& entry) {
  return "строка " + platform::IntToStr(entry.line) + ", столбец " + ColumnLetters(entry.column);
}

std::string Describe(const ReportEntry& entry) {
  switch (entry.kind) {
    case ReportEntry::Kind::Unconverted:
      return Place(entry) + " (" + entry.field + "): «" + Shown(entry.text) + "» -> " +
             entry.stored;
    case ReportEntry::Kind::SkippedColumnB:
      return "строка " + platform::IntToStr(entry.line) + ": «" + Shown(entry.text) + "»";
    default:
      return Place(entry) + ": «" + Shown(entry.text) + "»";
  }
}

void AddEntries(std::vector<std::string>& out, const std::vector<ReportEntry>& entries, int count) {
  for (const ReportEntry& entry : entries) out.push_back("  " + Describe(entry));
  if (count > static_cast<int>(entries.size())) {
    out.push_back("  ... и ещё " + platform::IntToStr(count - static_cast<int>(entries.size())));
  }
}

}  // namespace

std::string ReportHeaderLine() {
  return "kind\tline (first line = 1)\tcolumn\tletter\tfield\ttext\tstored value";
}

std::string ReportEntryLine(const ReportEntry& entry) {
  const bool placed = entry.line > 0;
  return std::string(KindName(entry.kind)) + '\t' +
         (placed ? platform::IntToStr(entry.line) : std::string()) + '\t' +
         (placed ? platform::IntToStr(entry.column) : std::string()) + '\t' +
         (placed ? ColumnLetters(entry.column) : std::string()) + '\t' + FieldText(entry.field) +
         '\t' + FieldText(entry.text) + '\t' + FieldText(entry.stored);
}

void ImportReport::Reset() {
  auto keep = std::move(onEntry);
  *this = ImportReport();
  onEntry = std::move(keep);
}

void ImportReport::Add(const ReportEntry& entry) {
  switch (entry.kind) {
    case ReportEntry::Kind::Unconverted:
      if (unconverted++ < kFirst) firstUnconverted.push_back(entry);
      break;
    case ReportEntry::Kind::SkippedColumnB:
      if (skippedColumnB++ < kFirst) firstSkipped.push_back(entry);
      break;
    case ReportEntry::Kind::SurplusCells:
      if (surplusLines++ < kFirst) firstSurplusLines.push_back(entry.line);
      break;
    case ReportEntry::Kind::NoDataLines:
      noDataLines = true;
      break;
  }
  if (onEntry) onEntry(entry);
}

std::vector<std::string> ImportReport::LogBlock(const std::string& noDataNote) const {
  std::vector<std::string> out;
  if (!HasFindings()) return out;
  out.push_back("Отчёт о чтении файла (строки считаются с 1):");
  if (unconverted > 0) {
    out.push_back("Не преобразовано ячеек: " + platform::IntToStr(unconverted));
    AddEntries(out, firstUnconverted, unconverted);
  }
  if (skippedColumnB > 0) {
    out.push_back("Пропущено строк с заполненным столбцом B: " +
                  platform::IntToStr(skippedColumnB));
    AddEntries(out, firstSkipped, skippedColumnB);
  }
  if (surplusLines > 0) {
    std::string line =
        "Строк с лишними ячейками (не прочитаны): " + platform::IntToStr(surplusLines) +
        "; первые строки:";
    for (std::size_t i = 0; i < firstSurplusLines.size(); ++i) {
      line += (i == 0 ? " " : ", ") + platform::IntToStr(firstSurplusLines[i]);
    }
    out.push_back(line);
  }
  if (noDataLines) {
    out.push_back("Внимание: в файле нет строк данных." +
                  (noDataNote.empty() ? std::string() : " " + noDataNote));
  }
  return out;
}

std::string ImportReport::Summary() const {
  if (!HasFindings()) return {};
  std::vector<std::string> parts;
  if (unconverted > 0)
    parts.push_back("не преобразовано ячеек: " + platform::IntToStr(unconverted));
  if (skippedColumnB > 0) {
    parts.push_back("пропущено строк со столбцом B: " + platform::IntToStr(skippedColumnB));
  }
  if (surplusLines > 0) {
    parts.push_back("строк с лишними ячейками: " + platform::IntToStr(surplusLines));
  }
  if (noDataLines) parts.push_back("нет строк данных");
  std::string text = "Отчёт: ";
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? "" : "; ") + parts[i];
  return text;
}

std::string ImportReport::RefusalMessage() const {
  std::string text = "Файл не загружен (--strict): часть его данных не была бы прочитана.";
  for (const std::string& line : LogBlock({})) text += "\n" + line;
  return text;
}

}  // namespace app
