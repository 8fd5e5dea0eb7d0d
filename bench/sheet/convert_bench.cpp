// Converts the first sheet of each workbook given on the command line to a text file
// through SaveSheetAsText and the native engine, and prints for each the wall time, the
// text's size and the process's peak resident memory so far. Run it once per workbook
// to read the peak memory of that workbook alone (bench/sheet/run does).
//
//   sheet_convert_bench WORKBOOK... [--out DIR]

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Ui.h"
#include "sheet/Engine.h"
#include "sheet/Xlsfun.h"

namespace {

class PrintingSink : public platform::MessageSink {
 public:
  void ShowMessage(const std::string& text) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    failed = true;
  }
  bool failed = false;
};

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> books;
  std::filesystem::path out = std::filesystem::temp_directory_path();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--out" && i + 1 < argc) {
      out = argv[++i];
    } else {
      books.push_back(arg);
    }
  }
  if (books.empty()) {
    std::fprintf(stderr, "usage: sheet_convert_bench WORKBOOK... [--out DIR]\n");
    return 2;
  }
  sheet::RegisterNativeEngine();
  PrintingSink sink;
  platform::SetMessageSink(&sink);
  for (const auto& book : books) {
    const std::filesystem::path text =
        out / (std::filesystem::path(book).filename().string() + ".txt");
    const auto start = std::chrono::steady_clock::now();
    const std::string result = SaveSheetAsText(book, "", text.string());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result.empty() || sink.failed) {
      std::fprintf(stderr, "%s: conversion failed\n", book.c_str());
      return 1;
    }
    std::printf("%s\t%.3f s\t%ju bytes of text\tpeak RSS %.1f MB\n", book.c_str(), seconds,
                static_cast<std::uintmax_t>(std::filesystem::file_size(text)),
                static_cast<double>(PeakRssKb()) / 1024.0);
  }
  return 0;
}
