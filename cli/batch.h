// tessil render: one manager for the whole run, one processor per file, files rendered in
// parallel as a host with several streams would run them. tessil analyse: the same reports for
// inputs alone.
#pragma once

#include <vector>

#include "cli/arguments.h"
#include "cli/render.h"

namespace tessil::cli {

// IN OUT, or every input into the output directory under its own name (its extension replaced
// by --type when given). Refuses an output that would overwrite an input or another output.
std::vector<RenderJob> PlanJobs(const CommandLine& commandLine);

int RunRender(const CommandLine& commandLine);
int RunAnalyse(const CommandLine& commandLine);

}  // namespace tessil::cli
