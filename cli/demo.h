// tessil demo: writes the synthesised demo clip and renders it as a 44.1 kHz stream in buffers of
// 441 frames, the case where the processor runs with its short-buffer latency.
#pragma once

#include "cli/arguments.h"

namespace tessil::cli {

int RunDemo(const CommandLine& commandLine);

}  // namespace tessil::cli
