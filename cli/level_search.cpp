#include "cli/level_search.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "cli/errors.h"

namespace tessil::cli {

namespace {

constexpr int kLowestLevel = 1;
constexpr int kHighestLevel = 100;
// Trials beyond the first; a bracket of 100 levels halves in seven.
constexpr int kMaximumGuesses = 10;
// Less change than this between two trials a tenth apart in level: the core level no longer
// moves the loudness (the core is off, or the untouched channels carry the programme).
constexpr double kNoGripLu = 0.05;

struct Point {
  TrialFigures trial;
  double gainDb;  // the ceiling's
  double finalLufs;
};

double LevelDb(int level) { return 20.0 * std::log10(static_cast<double>(level)); }

}  // namespace

double CeilingGainDb(double truePeakDbtp, double ceilingDbtp) {
  if (std::isnan(ceilingDbtp) || !std::isfinite(truePeakDbtp)) return 0.0;
  return std::min(0.0, ceilingDbtp - kCeilingMarginDb - truePeakDbtp);
}

LevelChoice KeepCeiling(double ceilingDbtp, const RunTrial& run) {
  LevelChoice choice;
  choice.trial = run(0);
  choice.trials = 1;
  choice.hostGainDb = CeilingGainDb(choice.trial.truePeakDbtp, ceilingDbtp);
  choice.finalLufs = choice.trial.integratedLufs + choice.hostGainDb;
  return choice;
}

LevelChoice SearchLevel(double targetLufs, double ceilingDbtp, const RunTrial& run, const std::string& input) {
  int trials = 0;
  const auto measure = [&](int level) {
    Point point;
    point.trial = run(level);
    ++trials;
    point.gainDb = CeilingGainDb(point.trial.truePeakDbtp, ceilingDbtp);
    point.finalLufs = point.trial.integratedLufs + point.gainDb;
    return point;
  };
  const auto inWindow = [&](const Point& point) { return std::fabs(point.finalLufs - targetLufs) <= kTargetTolerance; };

  Point high = measure(kHighestLevel);
  if (!std::isfinite(high.finalLufs)) {
    throw CliError(input + ": --target: the output has no measurable loudness (silent or shorter than 0.4 s)");
  }
  if (high.finalLufs < targetLufs - kTargetTolerance) {
    const Point low = measure(kLowestLevel);
    throw CliError(input + ": --target " + Decimal(targetLufs, 1) + " LUFS is out of reach: the core level reaches " +
                   Decimal(low.finalLufs, 1) + " to " + Decimal(high.finalLufs, 1) + " LUFS on this file" +
                   (std::isnan(ceilingDbtp) ? std::string() : " under the ceiling of " + Decimal(ceilingDbtp, 1) + " dBTP"));
  }
  // `high` stays at or above the window's floor, `low` (once found) below it. Guesses come from
  // the loudness following 20 log10(level): at first from that model alone, then by
  // interpolating between the two sides, always strictly inside the bracket.
  // Where the untouched channels carry part of the loudness, or the ceiling's gain changes with
  // the level, the loudness moves by less than the level: then the slope of the last two trials
  // above the target serves until the target is bracketed.
  std::optional<Point> low;
  std::optional<Point> previous;
  for (int guesses = 0; guesses < kMaximumGuesses && !inWindow(high); ++guesses) {
    const int lowLevel = low ? low->trial.level : kLowestLevel - 1;
    if (high.trial.level - lowLevel <= 1) break;
    const std::optional<Point>& other = low ? low : previous;
    double slope = 1.0;  // LU per dB of level
    if (other && other->trial.level != high.trial.level) {
      slope = (high.finalLufs - other->finalLufs) / (LevelDb(high.trial.level) - LevelDb(other->trial.level));
    }
    // Aimed into the upper half of the window: a guess that falls short costs a trial more.
    const double aim = targetLufs + kTargetTolerance / 2.0;
    const double guessDb = LevelDb(high.trial.level) + (aim - high.finalLufs) / std::max(slope, 0.1);
    const int guess = std::clamp(static_cast<int>(std::lround(std::pow(10.0, guessDb / 20.0))), lowLevel + 1,
                                 high.trial.level - 1);
    Point point = measure(guess);
    if (point.finalLufs >= targetLufs - kTargetTolerance) {
      const bool noGrip = high.finalLufs - point.finalLufs < kNoGripLu && guess * 10 < high.trial.level * 9;
      previous = high;
      high = point;
      if (noGrip) break;
    } else {
      low = point;
    }
  }
  LevelChoice choice;
  choice.trial = high.trial;
  choice.hostGainDb = high.gainDb;
  choice.finalLufs = high.finalLufs;
  choice.trials = trials;
  if (choice.finalLufs > targetLufs + kTargetTolerance || (!inWindow(high) && choice.finalLufs > targetLufs)) {
    // The trim aims at the target itself, leaving the whole tolerance for the written file.
    choice.hostGainDb += targetLufs - choice.finalLufs;
    choice.finalLufs = targetLufs;
  }
  return choice;
}

}  // namespace tessil::cli
