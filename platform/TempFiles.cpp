#include "platform/TempFiles.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace platform {
namespace {

enum : int { kFree = 0, kFilling = 1, kReady = 2 };

struct Entry {
  std::atomic<int> state{kFree};
  char path[kMaxTempFilePath + 1];
};

Entry entries[kMaxTempFiles];

constexpr int kSignals[] = {SIGINT, SIGTERM};
struct sigaction previous[2];

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the states");

int SignalIndex(int signal) { return signal == SIGINT ? 0 : 1; }

void RemoveRegistered() {
  for (Entry& entry : entries) {
    if (entry.state.load(std::memory_order_acquire) == kReady) ::unlink(entry.path);
  }
}

void OnSignal(int signal, siginfo_t* info, void* context) {
  const int saved = errno;
  RemoveRegistered();
  const struct sigaction& before = previous[SignalIndex(signal)];
  if ((before.sa_flags & SA_SIGINFO) != 0 && before.sa_sigaction != nullptr) {
    before.sa_sigaction(signal, info, context);
  } else if (before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN &&
             before.sa_handler != nullptr) {
    before.sa_handler(signal);
  } else {
    // The default action: end the process by the same signal, which is blocked while
    // this handler runs and arrives as soon as the handler returns.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);
  }
  errno = saved;
}

void Install() {
  for (int i = 0; i < 2; ++i) {
    struct sigaction current {};
    if (::sigaction(kSignals[i], nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN) continue;
    previous[i] = current;
    struct sigaction handler {};
    handler.sa_sigaction = &OnSignal;
    sigemptyset(&handler.sa_mask);
    for (int s : kSignals) sigaddset(&handler.sa_mask, s);
    handler.sa_flags = SA_SIGINFO | SA_RESTART;
    ::sigaction(kSignals[i], &handler, nullptr);
  }
}

}  // namespace

int RegisterTempFile(const std::string& path) {
  static std::once_flag once;
  std::call_once(once, Install);
  if (path.empty() || path.size() > kMaxTempFilePath || path.find('\0') != std::string::npos) {
    return -1;
  }
  for (int i = 0; i < kMaxTempFiles; ++i) {
    int expected = kFree;
    if (!entries[i].state.compare_exchange_strong(expected, kFilling, std::memory_order_acquire)) {
      continue;
    }
    std::memcpy(entries[i].path, path.c_str(), path.size() + 1);
    entries[i].state.store(kReady, std::memory_order_release);
    return i;
  }
  return -1;
}

void UnregisterTempFile(int entry) {
  if (entry < 0 || entry >= kMaxTempFiles) return;
  entries[entry].state.store(kFree, std::memory_order_release);
}

}  // namespace platform
