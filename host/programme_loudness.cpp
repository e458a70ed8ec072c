#include "host/programme_loudness.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tessil::host {

namespace {

constexpr double kAbsoluteGateLufs = -70.0;
constexpr double kIntegratedRelativeGateLu = -10.0;
constexpr double kRangeRelativeGateLu = -20.0;
constexpr double kRangeLowPercentile = 0.10;
constexpr double kRangeHighPercentile = 0.95;
// LRA blocks: 3 s long, one every second.
constexpr uint64_t kRangeBlockEverySteps = 10;

// Classes of 0.01 dB from the absolute gate to +30 LUFS; louder blocks share the top class.
constexpr double kClassesPerDb = 100.0;
constexpr size_t kClasses = 10000;

double EnergyOfLoudness(double lufs) { return std::pow(10.0, (lufs + 0.691) / 10.0); }

const double kAbsoluteGateEnergy = EnergyOfLoudness(kAbsoluteGateLufs);

size_t ClassOf(double energy) {
  const double position = (LoudnessFromEnergy(energy) - kAbsoluteGateLufs) * kClassesPerDb;
  if (!(position > 0.0)) return 0;
  return std::min(kClasses - 1, static_cast<size_t>(position));
}

}  // namespace

EnergyHistogram::EnergyHistogram()
    : counts_(kClasses, 0), sums_(kClasses, 0.0), least_(kClasses, 0.0), largest_(kClasses, 0.0) {}

void EnergyHistogram::Add(double energy) {
  // The gate keeps what libebur128 keeps, compared the same way; steps spoilt by a NaN or an
  // infinity in the input are left out.
  if (!(energy >= kAbsoluteGateEnergy) || std::isinf(energy)) return;
  const size_t i = ClassOf(energy);
  least_[i] = counts_[i] == 0 ? energy : std::min(least_[i], energy);
  largest_[i] = counts_[i] == 0 ? energy : std::max(largest_[i], energy);
  ++counts_[i];
  sums_[i] += energy;
  ++count_;
  sum_ += energy;
}

uint64_t EnergyHistogram::CountAbove(size_t i, double threshold) const {
  const uint64_t count = counts_[i];
  if (count == 0 || least_[i] >= threshold) return count;
  if (largest_[i] < threshold) return 0;
  // The threshold lies between the least and the largest, which are themselves one block each.
  const double share = (largest_[i] - threshold) / (largest_[i] - least_[i]);
  const auto estimate = static_cast<uint64_t>(std::llround(share * static_cast<double>(count)));
  return std::clamp<uint64_t>(estimate, 1, count - 1);
}

void EnergyHistogram::Above(double threshold, uint64_t* count, double* sum) const {
  *count = 0;
  *sum = 0.0;
  for (size_t i = 0; i < kClasses; ++i) {
    const uint64_t above = CountAbove(i, threshold);
    if (above == 0) continue;
    *count += above;
    if (above == counts_[i]) {
      *sum += sums_[i];
    } else {
      // Spread evenly between the threshold and the largest.
      *sum += static_cast<double>(above) * (threshold + largest_[i]) / 2.0;
    }
  }
}

double EnergyHistogram::EnergyAtRank(double threshold, uint64_t rank) const {
  uint64_t before = 0;
  double last = 0.0;
  for (size_t i = 0; i < kClasses; ++i) {
    const uint64_t above = CountAbove(i, threshold);
    if (above == 0) continue;
    last = largest_[i];
    if (rank >= before + above) {
      before += above;
      continue;
    }
    if (above == 1) return largest_[i];
    const double lowest = above == counts_[i] ? least_[i] : threshold;
    const double position = static_cast<double>(rank - before) / static_cast<double>(above - 1);
    return lowest + (largest_[i] - lowest) * position;
  }
  return last;
}

void EnergyHistogram::Clear() {
  std::fill(counts_.begin(), counts_.end(), 0);
  std::fill(sums_.begin(), sums_.end(), 0.0);
  count_ = 0;
  sum_ = 0.0;
}

ProgrammeLoudness::ProgrammeLoudness(int sampleRate, std::vector<ChannelRole> roles)
    : meter_(sampleRate, std::move(roles)), planar_(static_cast<size_t>(meter_.Channels())) {}

template <typename AddPiece>
void ProgrammeLoudness::AddInSteps(size_t frames, const AddPiece& add) {
  size_t done = 0;
  while (done < frames) {
    const size_t count = std::min(frames - done, meter_.FramesToNextStep());
    add(done, count);
    done += count;
    if (meter_.FramesToNextStep() == meter_.StepFrames()) StepCompleted();
  }
}

void ProgrammeLoudness::Add(const float* const* planar, size_t frames) {
  AddInSteps(frames, [&](size_t offset, size_t count) {
    for (size_t c = 0; c < planar_.size(); ++c) planar_[c] = planar[c] + offset;
    meter_.Add(planar_.data(), count);
  });
}

void ProgrammeLoudness::AddInterleaved(const float* interleaved, size_t frames) {
  AddInSteps(frames, [&](size_t offset, size_t count) {
    meter_.AddInterleaved(interleaved + offset * planar_.size(), count);
  });
}

void ProgrammeLoudness::StepCompleted() {
  const uint64_t steps = meter_.Steps();
  if (steps >= LoudnessMeter::kMomentarySteps) blocks_.Add(meter_.MomentaryEnergy());
  if (steps >= LoudnessMeter::kShortTermSteps &&
      (steps - LoudnessMeter::kShortTermSteps) % kRangeBlockEverySteps == 0) {
    shortTermBlocks_.Add(meter_.ShortTermEnergy());
  }
}

double ProgrammeLoudness::IntegratedLufs() const {
  if (blocks_.Count() == 0) return -std::numeric_limits<double>::infinity();
  const double gate = blocks_.Sum() / static_cast<double>(blocks_.Count()) *
                      std::pow(10.0, kIntegratedRelativeGateLu / 10.0);
  uint64_t count = 0;
  double sum = 0.0;
  blocks_.Above(gate, &count, &sum);
  if (count == 0) return -std::numeric_limits<double>::infinity();
  return LoudnessFromEnergy(sum / static_cast<double>(count));
}

double ProgrammeLoudness::RangeLu() const {
  if (shortTermBlocks_.Count() == 0) return 0.0;
  const double gate = shortTermBlocks_.Sum() / static_cast<double>(shortTermBlocks_.Count()) *
                      std::pow(10.0, kRangeRelativeGateLu / 10.0);
  uint64_t count = 0;
  double sum = 0.0;
  shortTermBlocks_.Above(gate, &count, &sum);
  if (count == 0) return 0.0;
  // The percentiles as libebur128 rounds them.
  const auto rankOf = [&](double percentile) {
    return static_cast<uint64_t>(static_cast<double>(count - 1) * percentile + 0.5);
  };
  const double low = shortTermBlocks_.EnergyAtRank(gate, rankOf(kRangeLowPercentile));
  const double high = shortTermBlocks_.EnergyAtRank(gate, rankOf(kRangeHighPercentile));
  return LoudnessFromEnergy(high) - LoudnessFromEnergy(low);
}

void ProgrammeLoudness::Reset() {
  meter_.Reset();
  blocks_.Clear();
  shortTermBlocks_.Clear();
}

}  // namespace tessil::host
