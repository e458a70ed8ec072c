// Ctrl-C and SIGTERM end a render cleanly: the loops notice, the temporary outputs are removed,
// and the program exits with the customary 128 + signal status.
#pragma once

namespace tessil::cli {

inline constexpr int kExitInterrupted = 130;

void InstallInterruptHandlers();
bool Interrupted();
// Throws CliError when a stop was asked for.
void ThrowIfInterrupted();

}  // namespace tessil::cli
