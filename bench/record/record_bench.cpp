// Cost of the import's per-line work: scanning a 21-cell tab-separated summary line into
// the 25-field import record and rendering its INSERT text, next to only splitting the
// same line into std::string cells. Prints lines per second of each and their ratio.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "convert/Smallfun.h"
#include "platform/FormatSettings.h"
#include "record/Znsrec.h"

namespace {

// A data line as a spreadsheet on a Russian desktop saves it: decimal commas, an empty
// ColumnB, a remark in ColumnS.
const std::string kLine =
    "Цистерна запаса топлива №12 ЛБ\t\t45-52\tЛБ\t2\t123,45\t0,98\t120,97\t0,85\t1,0007\t"
    "1,20\t0,50\t0,70\t-12,345\t3,50\t4,25\t1520,5\t2210,75\tпо чертежу\t12\t-3";

// The import layout: 25 fields, 21 read from the line, 23 written.
void PrepareImportRecord(TZnFFSRecord& rec) {
  rec.Clear();
  const Variant null = Variant::Null();
  rec.Add("Tank", "str", false, null, null, true);
  rec.Add("Designation", "str", true, null, null, true);
  rec.Add("ColumnB", "str", true, null, null, false);
  rec.Add("Frame", "str", true, null, null, true);
  rec.Add("Board", "str", true, null, null, true);
  rec.Add("Deck", "str", true, null, null, true);
  for (const char* name :
       {"Volume", "Fperm", "Volume_Netto", "SpecificWeight", "FactorExpansion", "AccountDeadStock",
        "DeadSstock", "AccountSstock", "Xpvm", "Ypvm", "Zpvm", "Mx", "Mz"}) {
    rec.Add(name, "flt", true, null, null, true)->Format = "0.00";
  }
  rec.Add("ColumnS", "str", true, null, null, false);
  rec.Add("dmh", "flt", true, null, null, true)->Format = "0";
  rec.Add("dM", "flt", true, null, null, true)->Format = "0";
  rec.Add("LPP", "int", false, null, null, true)->SetAsInteger(142);
  rec.Add("Project", "str", false, null, null, true)->SetAsString("TOrva_1");
  rec.Add("Variant", "int", false, null, null, true)->SetAsInteger(45444);
  rec.ByName("Tank")->SetAsString("Цистерна №12");
}

void SetUpProcess() {
  DefaultDataBaseTypeName = "ACCESS";
  FormatSettings = platform::RussianFormatSettings();
}

void BM_ScanAndInsertSQL(benchmark::State& state) {
  SetUpProcess();
  TZnFFSRecord rec;
  PrepareImportRecord(rec);
  for (auto _ : state) {
    rec.ScanString(kLine, '\t');
    std::string sql = rec.InsertSQL("FromExcel");
    benchmark::DoNotOptimize(sql.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScanAndInsertSQL);

void BM_ScanOnly(benchmark::State& state) {
  SetUpProcess();
  TZnFFSRecord rec;
  PrepareImportRecord(rec);
  for (auto _ : state) {
    rec.ScanString(kLine, '\t');
    benchmark::DoNotOptimize(rec.ScanCount);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScanOnly);

void BM_InsertSQLOnly(benchmark::State& state) {
  SetUpProcess();
  TZnFFSRecord rec;
  PrepareImportRecord(rec);
  rec.ScanString(kLine, '\t');
  for (auto _ : state) {
    std::string sql = rec.InsertSQL("FromExcel");
    benchmark::DoNotOptimize(sql.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InsertSQLOnly);

// The bare split: the line into a fresh vector of std::string cells.
void BM_SplitBaseline(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<std::string> cells;
    std::size_t start = 0;
    for (;;) {
      const std::size_t tab = kLine.find('\t', start);
      if (tab == std::string::npos) {
        cells.emplace_back(kLine, start);
        break;
      }
      cells.emplace_back(kLine, start, tab - start);
      start = tab + 1;
    }
    benchmark::DoNotOptimize(cells.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SplitBaseline);

// The same split into cell strings kept from line to line (no allocation at all).
void BM_SplitReusingCells(benchmark::State& state) {
  std::vector<std::string> cells;
  for (auto _ : state) {
    std::size_t count = 0;
    std::size_t start = 0;
    for (;;) {
      const std::size_t tab = kLine.find('\t', start);
      const std::size_t end = tab == std::string::npos ? kLine.size() : tab;
      if (count == cells.size()) cells.emplace_back();
      cells[count++].assign(kLine, start, end - start);
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    cells.resize(count);
    benchmark::DoNotOptimize(cells.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SplitReusingCells);

// Console output as usual, plus lines per second and the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // Seconds per line of each benchmark; with --benchmark_repetitions, the median.
    for (const Run& run : runs) {
      const std::string& name = run.run_name.function_name;
      if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        if (!medians_.count(name)) seconds_[name] = run.GetAdjustedCPUTime() / 1e9;
      } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        seconds_[name] = run.GetAdjustedCPUTime() / 1e9;
        medians_.insert(name);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto perSecond = [this](const char* name) {
      const auto it = seconds_.find(name);
      return it == seconds_.end() || it->second <= 0 ? 0.0 : 1.0 / it->second;
    };
    const double scan = perSecond("BM_ScanAndInsertSQL");
    const double scanOnly = perSecond("BM_ScanOnly");
    const double renderOnly = perSecond("BM_InsertSQLOnly");
    const double split = perSecond("BM_SplitBaseline");
    const double reuse = perSecond("BM_SplitReusingCells");
    if (scan <= 0 || split <= 0) return;
    std::printf(
        "\nlines per second (CPU time): scan + InsertSQL %.0f, scan only %.0f, "
        "InsertSQL only %.0f, bare split %.0f, split reusing cells %.0f\n",
        scan, scanOnly, renderOnly, split, reuse);
    std::printf(
        "scan + InsertSQL costs %.2fx the bare split (target: at most 4x); "
        "%.2fx the reusing split\n",
        split / scan, reuse > 0 ? reuse / scan : 0.0);
  }

 private:
  std::map<std::string, double> seconds_;
  std::set<std::string> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
