// Pictures of what the leveller did: momentary and short-term loudness of the input and, for a
// render, of the output over time, the level change between them, each side's integrated
// loudness, the target, and the true-peak overs marked. One drawing for both formats, through
// cairo: SVG or PNG, by the picture's extension.
#pragma once

#include <string>
#include <vector>

#include "cli/report.h"

namespace tessil::cli {

// True when `path` ends in .svg or .png (any case).
bool IsPlotPath(const std::string& path);

// Each input's picture: `plot` itself for a single input; for several, the input's file name
// (without its extension) joined to plot's: `loudness.png` with song.wav and talk.flac gives
// loudness-song.png and loudness-talk.png; inputs that share a name also get their position
// (loudness-take-1.png, loudness-take-3.png).
std::vector<std::string> PlotPaths(const std::string& plot, const std::vector<std::string>& inputs);

// Refuses, before any audio is read, a picture that could not be written: an existing file
// without `overwrite`, or a folder that is not there.
void CheckPlotDestination(const std::string& path, bool overwrite);

// Draws `report` into `path` (through a temporary file beside it, so a failure leaves nothing
// behind). Throws CliError.
void DrawPlot(const FileReport& report, const std::string& path);

}  // namespace tessil::cli
