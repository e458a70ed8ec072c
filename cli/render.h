// One file through the driver, planned, streamed and measured. A plain render is one pass; with
// --target or --ceiling the input is first streamed through the driver as often as the level
// search needs (measured, nothing written), then once more into the output with the host gain
// the search chose. Nothing of the file is ever held whole: memory stays the same whatever its
// length.
#pragma once

#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/level_search.h"
#include "cli/progress.h"
#include "cli/property_requests.h"
#include "cli/report.h"
#include "tessil/tessil.h"

namespace tessil::cli {

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

// Renders job.input into job.output with new processors. Nothing appears at job.output unless
// the whole file was rendered, read back and keeps the promises asked for (--target,
// --ceiling); failures throw CliError.
FileReport RenderFile(const RenderContext& context, const RenderJob& job);

// The input's own figures, nothing written (tessil analyse).
FileReport AnalyseFile(const std::string& path, Progress* progress);

}  // namespace tessil::cli
