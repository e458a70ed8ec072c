// Ctrl-C, SIGTERM, SIGHUP and SIGQUIT end a render cleanly: the loops notice, the temporary
// outputs are removed, "interrupted" is said once and the program exits with the customary
// 128 + signal status (130 for Ctrl-C).
#pragma once

#include <string>

namespace tessil::cli {

inline constexpr int kExitInterrupted = 130;

// Installed without SA_RESTART, so a read blocked on a pipe or FIFO returns and the loop notices.
// The first signal also removes every registered temporary file at once, in case the program is
// stuck where no loop looks; a second signal ends the program with the default action.
void InstallInterruptHandlers();
bool Interrupted();
// 128 + the signal that arrived first.
int InterruptedExitStatus();
// Throws CliError when a stop was asked for.
void ThrowIfInterrupted();

// A temporary file the handler removes on a signal. Returns the slot to forget it by, or -1 when
// every slot is taken (the render loop still removes it).
int RegisterTemporaryFile(const std::string& path);
void ForgetTemporaryFile(int slot);

}  // namespace tessil::cli
