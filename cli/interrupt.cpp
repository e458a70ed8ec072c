#include "cli/interrupt.h"

#include <atomic>
#include <signal.h>

#include "cli/errors.h"

namespace tessil::cli {

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnInterrupt(int) { interrupted.store(true, std::memory_order_relaxed); }

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() { return interrupted.load(std::memory_order_relaxed); }

void ThrowIfInterrupted() {
  if (Interrupted()) throw CliError("interrupted", kExitInterrupted);
}

}  // namespace tessil::cli
