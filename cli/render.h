// One file through one stream processor, as a host streams it: full buffers of integer-scale
// host samples, processed in place, the output aligned with the input unless asked otherwise.
#pragma once

#include <string>

#include "cli/arguments.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "tessil/tessil.h"

namespace tessil::cli {

// The format the output is written in.
int OutputSndfileFormat(OutputFormat format, int inputFormat);

struct RenderJob {
  std::string input;
  std::string output;
};

// Renders job.input into job.output with a new processor of `manager`. Nothing appears at
// job.output unless the whole file was rendered; failures throw CliError.
FileReport RenderFile(ITessilManager* manager, const RenderJob& job, const RenderOptions& options,
                      bool lookaheadActive, Progress* progress);

}  // namespace tessil::cli
