// What a render tells the user about each file: before/after loudness and peaks, and how long
// the effect took. As aligned text for people, or as JSON for scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/loudness.h"

namespace tessil::cli {

struct FileReport {
  std::string input;
  std::string output;
  std::string inputFormat;
  std::string outputFormat;
  int sampleRate = 0;
  int channels = 0;
  std::string layout;                     // "5.1", "stereo", ... or "unspecified"
  std::vector<std::string> channelNames;  // "FL", "FR", ... in the order processed; empty when unspecified
  int hostBits = 0;
  int bufferFrames = 0;
  int64_t frames = 0;
  int64_t declaredFrames = -1;  // the header's length, when fewer frames could be decoded
  bool aligned = true;
  int latencyFrames = 0;        // trimmed from the start when aligned
  double processSeconds = 0.0;  // inside the processor's Process
  double wallSeconds = 0.0;     // the whole file: reading, processing, measuring, writing
  LoudnessFigures before;
  LoudnessFigures after;

  bool analysisOnly = false;  // tessil analyse: the input alone, no output
  int processingRate = 0;     // the rate the processor ran at
  std::vector<std::string> settings;  // every setting applied, NAME=VALUE in order
  int processedChannels = 0;  // the first two; the others passed through untouched
  int64_t clippedSamples = 0;  // processed samples that reached the output clamp
  double hostGainDb = 0.0;     // applied by the host after the driver (--ceiling, --target)
  bool targetUsed = false;
  double targetLufs = 0.0;
  int targetCoreLevel = 0;     // hundredths, the level the search found
  int targetIterations = 0;    // renders the search took
  bool ceilingUsed = false;
  double ceilingDbtp = 0.0;
  bool outputMeasuredFromFile = false;  // lossy output: figures of the decoded file
  std::vector<std::string> warnings;    // also printed on stderr
  std::vector<std::string> notes;       // why a figure is missing; in the report only
  std::string plot;                     // the picture drawn (--plot), if any

  double DurationSeconds() const;
  double RealtimeFactor() const;  // audio seconds per second of processing; inf when too fast to time
};

// Both sides' loudness over time on one hop (the coarser of the two, should they differ), and
// the level change between them: output minus input short-term loudness, NaN where either is
// below the meter's floor. For an analysis, the input alone.
struct LoudnessOverTime {
  double hopSeconds = 0.0;
  LoudnessSeries input;
  LoudnessSeries output;
  std::vector<float> levelChange;
};
LoudnessOverTime SeriesOverTime(const FileReport& report);

// Loudness below this is shown as missing (null in JSON, a gap in pictures): the absolute gate.
inline constexpr double kLoudnessFloorLufs = -70.0;

std::string TextReport(const FileReport& report);
std::string JsonReport(const FileReport& report);
std::string JsonString(const std::string& text);

}  // namespace tessil::cli
