// One file through one stream processor, as a host streams it: full buffers of integer-scale
// host samples, processed in place, the output aligned with the input unless asked otherwise.
// With --target or --ceiling the file is first rendered in memory (as often as the loudness
// search needs) and the chosen render is written.
#pragma once

#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/progress.h"
#include "cli/property_requests.h"
#include "cli/report.h"
#include "tessil/tessil.h"

namespace tessil::cli {

// How close --target must come, in LU.
inline constexpr double kTargetTolerance = 0.2;

struct RenderJob {
  std::string input;
  std::string output;
};

// What every file of a run shares.
struct RenderContext {
  const CommandLine* commandLine = nullptr;
  ITessilManager* manager = nullptr;  // the run's settings, shared by every processor
  bool lookaheadActive = true;
  std::vector<std::string> settings;  // every setting applied, as NAME=VALUE in order
  Progress* progress = nullptr;
};

// Renders job.input into job.output with a new processor. Nothing appears at job.output unless
// the whole file was rendered and read back; failures throw CliError.
FileReport RenderFile(const RenderContext& context, const RenderJob& job);

// The input's own figures, nothing written (tessil analyse).
FileReport AnalyseFile(const std::string& path, Progress* progress);

}  // namespace tessil::cli
