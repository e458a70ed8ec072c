// What a render tells the user about each file: before/after loudness and peaks, and how long
// the effect took. As aligned text for people, or as JSON for scripts.
#pragma once

#include <cstdint>
#include <string>

#include "cli/loudness.h"

namespace tessil::cli {

struct FileReport {
  std::string input;
  std::string output;
  std::string inputFormat;
  std::string outputFormat;
  int sampleRate = 0;
  int channels = 0;
  int hostBits = 0;
  int bufferFrames = 0;
  int64_t frames = 0;
  bool aligned = true;
  int latencyFrames = 0;        // trimmed from the start when aligned
  double processSeconds = 0.0;  // inside the processor's Process
  double wallSeconds = 0.0;     // the whole file: reading, processing, measuring, writing
  LoudnessFigures before;
  LoudnessFigures after;

  double DurationSeconds() const;
  double RealtimeFactor() const;  // audio seconds per second of processing; inf when too fast to time
};

std::string TextReport(const FileReport& report);
std::string JsonReport(const FileReport& report);
std::string JsonString(const std::string& text);

}  // namespace tessil::cli
