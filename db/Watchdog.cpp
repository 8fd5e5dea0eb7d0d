// The command timeout of PostgreSQL sessions. Qt's driver waits for the server's answer
// in a blocking call; a server process that hangs (stopped, swapped out, stuck on a
// disk) would hold the program forever. A thread per session watches the statement in
// progress: past the timeout it sends the server a cancel request, which ends the
// statement with an error and leaves the session usable. A server that does not answer
// even that within a short grace loses the connection: the socket is shut down, so that
// the blocking call returns with an error; the server rolls the session's transaction
// back when it notices.

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include <dlfcn.h>
#include <libpq-fe.h>
#include <link.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <QSqlDriver>
#include <QVariant>

#include "db/Internal.h"

namespace db::detail {

namespace {

using Clock = std::chrono::steady_clock;

// How long a cancelled statement may take to end before the connection is cut.
constexpr std::chrono::seconds kCancelGrace{2};

}  // namespace

class Watchdog {
 public:
  Watchdog(PGcancel* cancel, int socket, int timeoutSeconds)
      : cancel_(cancel, PQfreeCancel), socket_(socket), timeout_(timeoutSeconds) {
    struct stat st {};
    if (::fstat(socket_, &st) == 0) socketInode_ = st.st_ino;
    thread_ = std::thread([this] { Run(); });
  }

  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  std::uint64_t Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = ++counter_;
    started_ = Clock::now();
    wake_.notify_all();
    return current_;
  }

  // True when the statement of `ticket` was cancelled.
  bool Finish(std::uint64_t ticket) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (current_ == ticket) current_ = 0;
    wake_.notify_all();
    return fired_ == ticket;
  }

  int TimeoutSeconds() const { return static_cast<int>(timeout_.count()); }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      if (current_ == 0) {
        wake_.wait(lock);
        continue;
      }
      const std::uint64_t ticket = current_;
      auto ended = [&] { return stop_ || current_ != ticket; };
      if (wake_.wait_until(lock, started_ + timeout_, ended)) continue;
      fired_ = ticket;
      // The cancel request opens a connection of its own to the server, which may take
      // long when the server is unreachable: it goes from a thread of its own, and the
      // grace runs meanwhile. The request's data are copies that outlive the session.
      std::thread([cancel = cancel_] {
        char message[256];
        PQcancel(cancel.get(), message, sizeof message);
      }).detach();
      if (wake_.wait_until(lock, Clock::now() + kCancelGrace, ended)) continue;
      CutConnection();
      wake_.wait(lock, ended);
    }
  }

  // Shuts the session's socket down: the blocking read returns at once. libpq closes the
  // descriptor when it sees the connection gone, and the number may then belong to
  // another file: the socket is cut only while the descriptor is still the same socket.
  void CutConnection() {
    if (cut_) return;
    struct stat st {};
    if (::fstat(socket_, &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_ino != socketInode_) return;
    ::shutdown(socket_, SHUT_RDWR);
    cut_ = true;
  }

  std::shared_ptr<PGcancel> cancel_;
  const int socket_;
  ino_t socketInode_ = 0;
  const std::chrono::seconds timeout_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::uint64_t counter_ = 0;
  std::uint64_t current_ = 0;  // the statement being watched; 0: none
  std::uint64_t fired_ = 0;    // the last statement cancelled
  Clock::time_point started_;
  bool stop_ = false;
  bool cut_ = false;
  std::thread thread_;
};

bool PluginSharesFunction(const char* plugin, const char* symbol, const void* ours) {
  struct Search {
    const char* plugin;
    std::string path;
  } search{plugin, {}};
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) -> int {
        auto* s = static_cast<Search*>(data);
        const char* name = info->dlpi_name;
        if (name == nullptr || std::strstr(name, s->plugin) == nullptr) return 0;
        s->path = name;
        return 1;
      },
      &search);
  if (search.path.empty()) return false;
  void* module = ::dlopen(search.path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (module == nullptr) return false;
  const bool same = ::dlsym(module, symbol) == ours;
  ::dlclose(module);
  return same;
}

bool StartWatchdog(Connection::Impl& c) {
  c.watchdog.reset();
  if (c.commandTimeoutS <= 0 || c.db.driver() == nullptr) return false;
  // The driver's session is reached through its libpq, which must be the one linked here.
  static const bool shared =
      PluginSharesFunction("qsqlpsql", "PQexec", reinterpret_cast<const void*>(&PQexec));
  if (!shared) return false;
  const QVariant handle = c.db.driver()->handle();
  // Qt names the type by its typedef or by the structure behind it.
  if (!handle.isValid() || (std::strcmp(handle.typeName(), "PGconn*") != 0 &&
                            std::strcmp(handle.typeName(), "pg_conn*") != 0)) {
    return false;
  }
  PGconn* connection = *static_cast<PGconn* const*>(handle.constData());
  if (connection == nullptr || PQstatus(connection) != CONNECTION_OK) return false;
  PGcancel* cancel = PQgetCancel(connection);
  if (cancel == nullptr) return false;
  c.watchdog = std::make_shared<Watchdog>(cancel, PQsocket(connection), c.commandTimeoutS);
  return true;
}

StatementTimer::StatementTimer(Connection::Impl& c) : connection_(c) {
  if (c.watchdog) ticket_ = c.watchdog->Start();
}

StatementTimer::~StatementTimer() { Expired(); }

bool StatementTimer::Expired() {
  if (ticket_ != 0 && connection_.watchdog) {
    expired_ = connection_.watchdog->Finish(ticket_);
    ticket_ = 0;
  }
  return expired_;
}

std::string StatementTimer::Error(const QSqlError& error) {
  if (!Expired()) return ErrorText(error);
  return "the statement did not finish within the \"Command Timeout\" of " +
         std::to_string(connection_.commandTimeoutS) + " s and was cancelled";
}

void StatementTimer::Fail(const QSqlError& error, const std::string& prefix,
                          const std::string& suffix) {
  detail::Fail(connection_, prefix + Error(error) + suffix, QtEngineError(error));
}

}  // namespace db::detail
