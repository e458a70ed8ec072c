// tessil: the command-line host. It loads the module like a host driver, configures it through
// its property set and streams audio files through its processors.
#include <cstdio>
#include <exception>

#include "cli/arguments.h"
#include "cli/batch.h"
#include "cli/demo.h"
#include "cli/errors.h"
#include "cli/interrupt.h"
#include "cli/property_requests.h"

int main(int argc, char** argv) {
  using namespace tessil::cli;
  CommandLine commandLine;
  if (const auto status = ParseCommandLine(argc, argv, &commandLine)) return *status;
  InstallInterruptHandlers();
  try {
    switch (commandLine.command) {
      case CommandLine::Command::Render: return RunRender(commandLine);
      case CommandLine::Command::Analyse: return RunAnalyse(commandLine);
      case CommandLine::Command::Properties: return RunProperties(commandLine);
      case CommandLine::Command::Demo: return RunDemo(commandLine);
    }
  } catch (const CliError& error) {
    if (Interrupted()) {
      std::fputs("tessil: interrupted\n", stderr);
      return InterruptedExitStatus();
    }
    std::fprintf(stderr, "tessil: error: %s\n", error.what());
    return error.ExitCode();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tessil: error: %s\n", ErrorText(error).c_str());
    return kExitFailure;
  }
  return kExitFailure;
}
