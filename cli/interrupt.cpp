#include "cli/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "cli/errors.h"

namespace tessil::cli {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

std::atomic<int> receivedSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

// The handler may only touch async-signal-safe state: fixed buffers claimed through a flag.
enum SlotState : int { kFree, kClaimed, kReady };
constexpr int kSlots = 64;
struct TemporarySlot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX];
};
TemporarySlot slots[kSlots];

void OnSignal(int signal) {
  // unlink may set errno; the interrupted code must find its own value.
  const int savedErrno = errno;
  int expected = 0;
  receivedSignal.compare_exchange_strong(expected, signal, std::memory_order_relaxed);
  for (TemporarySlot& slot : slots) {
    if (slot.state.load(std::memory_order_acquire) == kReady) ::unlink(slot.path);
  }
  errno = savedErrno;
}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (const int signal : kSignals) sigaddset(&action.sa_mask, signal);
  for (const int signal : kSignals) sigaction(signal, &action, nullptr);
}

bool Interrupted() { return receivedSignal.load(std::memory_order_relaxed) != 0; }

int InterruptedExitStatus() {
  const int signal = receivedSignal.load(std::memory_order_relaxed);
  return signal != 0 ? 128 + signal : kExitInterrupted;
}

void ThrowIfInterrupted() {
  if (Interrupted()) throw CliError("interrupted", InterruptedExitStatus());
}

int RegisterTemporaryFile(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int index = 0; index < kSlots; ++index) {
    int expected = kFree;
    if (slots[index].state.compare_exchange_strong(expected, kClaimed, std::memory_order_acquire)) {
      std::memcpy(slots[index].path, path.c_str(), path.size() + 1);
      slots[index].state.store(kReady, std::memory_order_release);
      return index;
    }
  }
  return -1;
}

void ForgetTemporaryFile(int slot) {
  if (slot >= 0 && slot < kSlots) slots[slot].state.store(kFree, std::memory_order_release);
}

}  // namespace tessil::cli
