// --target and --ceiling: which core level and which host gain make the whole output keep both
// promises. Each trial streams the file through the driver once and measures the output without
// writing it; the caller runs the trials, this decides which to run and what to make of them.
//
// The host gain is applied after the driver alike to every channel, so the channels the driver
// passes through keep their balance with the processed pair: it is the least reduction that keeps
// the true peak of every channel under the ceiling, and a further trim down where the core level
// cannot come close enough to the target (its lowest steps are coarser than the tolerance, or the
// untouched channels carry the loudness). It never raises the output: the driver's clamp is the
// highest it may go.
#pragma once

#include <cmath>
#include <functional>
#include <string>

namespace tessil::cli {

// How close --target must come, in LU.
inline constexpr double kTargetTolerance = 0.2;
// Kept below the ceiling for the rounding of the written samples.
inline constexpr double kCeilingMarginDb = 0.01;

// The output of one trial as measured, before any host gain.
struct TrialFigures {
  int level = 0;                 // core level in hundredths; 0: the run's own settings
  double integratedLufs = NAN;   // the whole file, every channel weighted; -inf when not measurable
  double truePeakDbtp = NAN;     // the highest of every channel
};

struct LevelChoice {
  TrialFigures trial;        // the trial whose level is used
  double hostGainDb = 0.0;   // after the driver, on every channel; never above 0
  double finalLufs = NAN;    // the output's loudness with that gain
  int trials = 0;            // passes the search took
};

using RunTrial = std::function<TrialFigures(int level)>;  // level 0: the run's own settings

// The least reduction that keeps `truePeakDbtp` under `ceilingDbtp` (NaN: no ceiling).
double CeilingGainDb(double truePeakDbtp, double ceilingDbtp);

// A level whose output, with the host gain, lands within the tolerance of `targetLufs` under the
// ceiling. Throws CliError, naming `input` and the reason, when none can: the target is above
// what the highest level reaches, or the output has no measurable loudness.
LevelChoice SearchLevel(double targetLufs, double ceilingDbtp, const RunTrial& run, const std::string& input);

// The run's own settings under the ceiling alone: one trial.
LevelChoice KeepCeiling(double ceilingDbtp, const RunTrial& run);

}  // namespace tessil::cli
