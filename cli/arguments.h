// The command line: tessil render, tessil properties and tessil demo, parsed with CLI11.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tessil::cli {

enum class OutputFormat { Same, Float32, Wav16, Wav24 };

struct RenderOptions {
  int bufferFrames = 480;
  int bits = 0;  // 0: from the input file
  OutputFormat format = OutputFormat::Same;
  bool align = true;
  bool json = false;
  unsigned jobs = 0;  // 0: one per core
};

struct CommandLine {
  enum class Command { Render, Properties, Demo };
  Command command = Command::Render;
  RenderOptions render;
  std::vector<std::string> files;          // render: IN OUT, or the inputs when -o is given
  std::string outputDirectory;             // render -o, demo -o
  std::vector<std::string> settings;       // --set NAME=VALUE, in order
  std::vector<std::string> settingsFiles;  // --settings FILE, in order
};

// Fills `commandLine`, or returns the exit status when there is nothing more to do: 0 after
// --help, 2 after a usage error (already reported on stderr).
std::optional<int> ParseCommandLine(int argc, char** argv, CommandLine* commandLine);

}  // namespace tessil::cli
