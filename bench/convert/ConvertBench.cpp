// The per-cell conversions of an import next to the C library's routines that they
// replace: rendering a double as an SQL literal against snprintf("%.7f"), reading a
// float or integer cell against strtod. Every benchmark turns the same cells, so the
// figures compare directly.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "convert/Smallfun.h"
#include "platform/FormatSettings.h"

namespace {

constexpr std::size_t kCells = 4096;

// The C library's routines read "." under the C locale, so every run uses a "." locale.

// Figures as tank tables hold them: volumes, weights and coordinates with up to three
// decimals, some negative, some whole.
std::vector<double> Doubles() {
  std::mt19937_64 rng(42);
  std::uniform_int_distribution<int> thousandths(-2000000, 20000000);
  std::vector<double> out;
  out.reserve(kCells);
  for (std::size_t i = 0; i < kCells; ++i) out.push_back(thousandths(rng) / 1000.0);
  return out;
}

std::vector<std::string> FloatCells() {
  std::vector<std::string> out;
  for (double d : Doubles()) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", d);
    out.emplace_back(buf);
  }
  return out;
}

std::vector<std::string> IntegerCells() {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> frames(-50, 400000);
  std::vector<std::string> out;
  for (std::size_t i = 0; i < kCells; ++i) out.push_back(std::to_string(frames(rng)));
  return out;
}

void BM_VarToSQLConstant_Double(benchmark::State& state) {
  const platform::ScopedFormatSettings point(platform::UsFormatSettings());
  std::vector<Variant> values;
  for (double d : Doubles()) values.push_back(Variant::Double(d));
  const Variant marker = Variant::Null();
  const std::string format, dialect = "ACCESS";
  std::size_t i = 0;
  for (auto _ : state) {
    std::string s = VarToSQLConstant(values[i], marker, format, dialect);
    benchmark::DoNotOptimize(s);
    i = (i + 1) % kCells;
  }
}
BENCHMARK(BM_VarToSQLConstant_Double);

void BM_Snprintf_7f(benchmark::State& state) {
  const platform::ScopedFormatSettings point(platform::UsFormatSettings());
  const std::vector<double> values = Doubles();
  std::size_t i = 0;
  for (auto _ : state) {
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%.7f", values[i]);
    std::string s(buf, static_cast<std::size_t>(n));
    benchmark::DoNotOptimize(s);
    i = (i + 1) % kCells;
  }
}
BENCHMARK(BM_Snprintf_7f);

void BM_VarValFromString_Float(benchmark::State& state) {
  const platform::ScopedFormatSettings point(platform::UsFormatSettings());
  const std::vector<std::string> cells = FloatCells();
  std::size_t i = 0;
  for (auto _ : state) {
    Variant v = VarValFromString(cells[i], varDouble);
    benchmark::DoNotOptimize(v);
    i = (i + 1) % kCells;
  }
}
BENCHMARK(BM_VarValFromString_Float);

void BM_Strtod_Float(benchmark::State& state) {
  const platform::ScopedFormatSettings point(platform::UsFormatSettings());
  const std::vector<std::string> cells = FloatCells();
  std::size_t i = 0;
  for (auto _ : state) {
    char* end = nullptr;
    double d = std::strtod(cells[i].c_str(), &end);
    benchmark::DoNotOptimize(d);
    benchmark::DoNotOptimize(end);
    i = (i + 1) % kCells;
  }
}
BENCHMARK(BM_Strtod_Float);

void BM_VarValFromString_Integer(benchmark::State& state) {
  const platform::ScopedFormatSettings point(platform::UsFormatSettings());
  const std::vector<std::string> cells = IntegerCells();
  std::size_t i = 0;
  for (auto _ : state) {
    Variant v = VarValFromString(cells[i], varInteger);
    benchmark::DoNotOptimize(v);
    i = (i + 1) % kCells;
  }
}
BENCHMARK(BM_VarValFromString_Integer);

void BM_Strtod_Integer(benchmark::State& state) {
  const platform::ScopedFormatSettings point(platform::UsFormatSettings());
  const std::vector<std::string> cells = IntegerCells();
  std::size_t i = 0;
  for (auto _ : state) {
    char* end = nullptr;
    double d = std::strtod(cells[i].c_str(), &end);
    benchmark::DoNotOptimize(d);
    benchmark::DoNotOptimize(end);
    i = (i + 1) % kCells;
  }
}
BENCHMARK(BM_Strtod_Integer);

}  // namespace

BENCHMARK_MAIN();
