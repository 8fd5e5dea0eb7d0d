#pragma once
// The command line: the same import runs as the window, log lines on standard output,
// messages on standard error, and an exit status (0 success, 1 a run that ended with a
// message or an error, 2 bad usage).

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include <QStringList>

#include "app/ImportLayout.h"
#include "platform/Variant.h"

namespace app {

struct Command {
  enum class Kind {
    Window,  // no command: open the window
    Help,
    Version,
    CreateDatabase,  // --create-database
    FromText,        // --from-text [FILE]
    FromExcel,       // --from-excel WORKBOOK [--sheet NAME]
    Show,            // --show [TABLE]
    UsageError,
  };
  Kind kind = Kind::Window;
  std::string connectionString;          // --database, else the design-time string
  std::string file;                      // the text file, workbook or table named
  std::string sheet;                     // --sheet
  bool throughTable = false;             // --through-table
  std::optional<char> decimalSeparator;  // --decimal-separator
  std::string reportFile;                // --report: the import report as a TSV file
  bool dryRun = false;                   // --dry-run: read and check only, no database
  bool strict = false;                   // --strict: refuse a file that would lose data
  ProjectValues values;                  // --project, --lpp
  std::string error;                     // what is wrong, for UsageError
};

// Parses the arguments (the program name first). Needs no application object.
Command ParseCommandLine(const QStringList& arguments);

// What a command-line run needs from its surroundings.
struct CommandEnvironment {
  std::string programDirectory;      // with a trailing "/"; where "svod.txt" is looked for
  bool progressOnTerminal = false;   // progress line on standard error
  std::function<TDateTime()> clock;  // empty: the local time
};

// Runs a command other than Window and returns the exit status. The regional settings
// with --decimal-separator applied hold for the call only; the SQL dialect is set to
// "ACCESS" as the window sets it.
int RunCommand(const Command& command, const CommandEnvironment& environment, std::ostream& out,
               std::ostream& err);

std::string HelpText();
std::string VersionText();

}  // namespace app
