// The command line: tessil render, analyse, properties and demo, parsed with CLI11.
#pragma once

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "cli/output_format.h"

namespace tessil::cli {

struct RenderOptions {
  int bufferFrames = 480;
  int bits = 0;  // 0: from the input file
  Encoding encoding = Encoding::Same;
  std::string type;        // --type: the output container, overriding OUT's extension
  double quality = NAN;    // --quality 0..10
  bool overwrite = false;  // -y
  double targetLufs = NAN;    // --target
  double ceilingDbtp = NAN;   // --ceiling
  bool align = true;
  bool report = true;  // --no-report: no loudness or peak measurement
  bool json = false;
  bool progress = false;  // --progress: progress lines where stderr is not a terminal
  std::string plot;  // --plot: a picture of loudness over time, .svg or .png
  unsigned jobs = 0;  // 0: one per core
};

struct CommandLine {
  enum class Command { Render, Analyse, Properties, Demo };
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

// The known word nearest to `word` by edit distance, or empty when none is near.
std::string ClosestWord(const std::string& word, const std::vector<std::string>& known);

}  // namespace tessil::cli
