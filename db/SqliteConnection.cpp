// Opening an SQLite database file: the checks that keep the program from creating,
// overwriting or rewriting a file it should not, and the settings of the session.

#include <sqlite3.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "db/Internal.h"

namespace db::detail {

namespace {

constexpr char kSqliteMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                   'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};

// SQLite URI of a file that must exist already: every byte outside the unreserved set
// is percent-encoded, so "?", "#" and "%" in a file name keep their meaning.
QString SqliteUri(const std::string& path, bool readOnly) {
  static const char* const hex = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char ch : path) {
    if (std::isalnum(ch) || ch == '/' || ch == '-' || ch == '.' || ch == '_' || ch == '~') {
      uri += static_cast<char>(ch);
    } else {
      uri += '%';
      uri += hex[ch >> 4];
      uri += hex[ch & 15];
    }
  }
  uri += readOnly ? "?mode=ro" : "?mode=rw";
  return ToQt(uri);
}

std::string ErrnoText(int err) { return std::strerror(err); }

// Refuses, with the reason, a file that SQLite must not open: missing, a directory,
// empty, an Access database, anything without the SQLite header.
void CheckSqliteFile(const Connection::Impl& c) {
  struct stat st {};
  if (::stat(c.sqlitePath.c_str(), &st) != 0) {
    const int err = errno;
    if (err == ENOENT) Fail(c, "the file does not exist");
    Fail(c, "cannot open the file: " + ErrnoText(err));
  }
  if (S_ISDIR(st.st_mode)) Fail(c, "this is a directory, not a database file");
  const int fd = ::open(c.sqlitePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail(c, "cannot read the file: " + ErrnoText(errno));
  char header[32] = {};
  std::size_t got = 0;
  while (got < sizeof header) {
    const ssize_t r = ::read(fd, header + got, sizeof header - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<std::size_t>(r);
  }
  ::close(fd);
  if (got == 0) {
    // SQLite would take an empty file for a new database and start writing into it.
    Fail(c, "the file is empty, not a database");
  }
  if (got >= sizeof kSqliteMagic && std::memcmp(header, kSqliteMagic, sizeof kSqliteMagic) == 0) {
    return;
  }
  if (got >= 19 && (std::memcmp(header + 4, "Standard Jet DB", 15) == 0 ||
                    std::memcmp(header + 4, "Standard ACE DB", 15) == 0)) {
    Fail(c,
         "the file is a Microsoft Access database, which this program cannot open; it keeps "
         "its tables in SQLite or PostgreSQL databases (convert the tables first)");
  }
  Fail(c, "the file is not an SQLite database");
}

}  // namespace

// SQLite counts every allocation under a global lock for its memory statistics, which
// nothing here reads, and the import's statements allocate a great deal while they are
// parsed: the counting is turned off and small blocks come from our own free lists.
// Settings take effect only before SQLite's first use in the process, so they are made
// before the first connection opens; made later, SQLite refuses them harmlessly.
// Sanitizer builds leave SQLite's memory to the sanitizer's allocator, which checks it.
void ConfigureSqliteOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
#if !defined(__SANITIZE_ADDRESS__)
    UseSqliteMemory();
#endif
  });
}

void OpenSqlite(Connection::Impl& c, OpenMode mode) {
  const std::string given = c.settings.Get("Data Source");
  if (given.empty()) {
    throw EDatabaseError(
        "No SQLite database file is named: the connection string has no \"Data Source\"");
  }
  c.sqlitePath = std::filesystem::absolute(given).lexically_normal().string();
  c.description = "SQLite database " + c.sqlitePath;

  bool createdHere = false;
  if (mode == OpenMode::Create) {
    const int fd = ::open(c.sqlitePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      const int err = errno;
      if (err == EEXIST) {
        Fail(c, "the file exists already; a new database is made only in a new file");
      }
      Fail(c, "cannot create the file: " + ErrnoText(err));
    }
    ::close(fd);
    createdHere = true;
  } else {
    CheckSqliteFile(c);
  }

  const bool readOnly = mode == OpenMode::ReadOnly;
  if (!c.db.isValid()) c.db = QSqlDatabase::addDatabase("QSQLITE", ToQt(c.qtName));
  c.db.setConnectOptions(readOnly ? "QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY" : "QSQLITE_OPEN_URI");
  c.db.setDatabaseName(SqliteUri(c.sqlitePath, readOnly));
  try {
    if (!c.db.open())
      Fail(c, "cannot open the file: " + ErrorText(c.db.lastError()),
           QtEngineError(c.db.lastError()));
    // Only settings of this connection follow, and reads: the file stays as it is.
    Pragma(c, QStringLiteral("PRAGMA busy_timeout = %1").arg(c.busyTimeoutMs));
    // Reading the schema makes SQLite check the file beyond its header.
    Pragma(c, "SELECT count(*) FROM sqlite_master");
    Pragma(c, "PRAGMA foreign_keys = ON");
    // A database made here uses write-ahead logging: readers never wait for the writer,
    // and a process killed in the middle of a write leaves the last committed state.
    // Where the file system cannot hold the shared index of the log (network shares),
    // the rollback journal stays. Any other file keeps the journal its owner chose:
    // switching it would rewrite its header and leave files beside it for good.
    std::optional<QString> journal;
    if (createdHere) {
      try {
        journal = Pragma(c, "PRAGMA journal_mode = WAL");
      } catch (const EDatabaseError&) {
      }
    } else {
      journal = Pragma(c, "PRAGMA journal_mode");
    }
    // NORMAL synchronisation is safe against a killed process with the log; the rollback
    // journal syncs every commit.
    if (journal && journal->compare("wal", Qt::CaseInsensitive) == 0) {
      Pragma(c, "PRAGMA synchronous = NORMAL");
    } else {
      Pragma(c, "PRAGMA synchronous = FULL");
    }
    Pragma(c, "PRAGMA cache_size = -16384");
  } catch (...) {
    c.db.close();
    if (createdHere) ::unlink(c.sqlitePath.c_str());
    throw;
  }
}

}  // namespace db::detail
