// tessil render: one manager for the whole run, one processor per file, files rendered in
// parallel as a host with several streams would run them.
#pragma once

#include <vector>

#include "cli/arguments.h"
#include "cli/render.h"

namespace tessil::cli {

// IN OUT, or every input into the output directory under its own name (with a .wav extension
// when the output format is a WAV one). Refuses an output that would overwrite an input or
// another output.
std::vector<RenderJob> PlanJobs(const CommandLine& commandLine);

int RunRender(const CommandLine& commandLine);

}  // namespace tessil::cli
