// Fuzzing entry for recognising a workbook by content and saving its first sheet as
// text: any bytes end in a text file or in an error with a message, never in a crash, a
// hang or unbounded memory. The seeds of all three formats are used.

#include "fuzz/FuzzSupport.h"
#include "platform/Exception.h"
#include "sheet/TextWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& input = fuzzing::WriteInput("workbook-fuzz", data, size);
  try {
    auto reader = sheet::OpenWorkbook(input, fuzzing::Limits());
    if (!reader->SheetNames().empty()) sheet::WriteSheetAsText(*reader, 0, input + ".txt");
  } catch (const sheet::WorkbookError&) {
  } catch (const Exception&) {
  }
  return 0;
}
