// One file through one stream processor, as a host streams it: full buffers of integer-scale
// host samples, processed in place, the output aligned with the input unless asked otherwise.
#pragma once

#include <string>

#include "cli/arguments.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "tessil/tessil.h"

namespace tessil::cli {

// The core's look-ahead delays the stream while the master enable and the core enable are on.
inline constexpr int kCoreLookaheadFrames = 22;
// The processor works in blocks of 240 frames; a stream whose buffers are not whole blocks runs
// a fixed 239 frames late so that every block it processes is complete.
inline constexpr int kProcessorBlockFrames = 240;
inline constexpr int kShortBufferLatencyFrames = 239;

// Frames by which the processor's output trails its input.
int StreamLatencyFrames(bool lookaheadActive, int bufferFrames);

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
