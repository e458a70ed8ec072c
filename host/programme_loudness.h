// The figures of a whole programme on top of the loudness meter: integrated loudness (gated
// 400 ms blocks, ITU-R BS.1770) and loudness range (gated 3 s blocks, EBU Tech 3342), with
// libebur128's gates, block positions and percentiles. Memory stays the same whatever the length:
// block energies are kept as classes of 0.01 dB, not one by one.
//
//   host::ProgrammeLoudness programme(rate, host::DefaultChannelRoles(channels));
//   programme.AddInterleaved(samples, frames);   // as often as needed
//   double lufs = programme.IntegratedLufs();
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/loudness_meter.h"

namespace tessil::host {

// Block energies from the absolute gate (-70 LUFS) up, in classes 0.01 dB wide, each holding
// its count, sum, least and largest energy. A gate or a percentile that falls inside a class is
// placed by spreading the class's blocks evenly between its least and largest, so the answers
// match a sorted list of every block to far better than 0.01 dB.
class EnergyHistogram {
 public:
  EnergyHistogram();

  void Add(double energy);  // below the absolute gate: ignored
  uint64_t Count() const { return count_; }
  double Sum() const { return sum_; }

  // How many blocks are at or above `threshold`, and their sum.
  void Above(double threshold, uint64_t* count, double* sum) const;
  // The energy of the block at `rank` (from 0, ascending) among those at or above `threshold`.
  double EnergyAtRank(double threshold, uint64_t rank) const;

  void Clear();

 private:
  // Blocks of class i at or above `threshold`: all, none, or the largest ones.
  uint64_t CountAbove(size_t i, double threshold) const;

  std::vector<uint32_t> counts_;
  std::vector<double> sums_;
  std::vector<double> least_;
  std::vector<double> largest_;
  uint64_t count_ = 0;
  double sum_ = 0.0;
};

class ProgrammeLoudness {
 public:
  // As LoudnessMeter; allocates about half a megabyte.
  ProgrammeLoudness(int sampleRate, std::vector<ChannelRole> roles);

  void Add(const float* const* planar, size_t frames);
  void AddInterleaved(const float* interleaved, size_t frames);

  // The meter underneath: momentary and short-term loudness, steps.
  const LoudnessMeter& Meter() const { return meter_; }

  // -inf when no block passed the gates (silence, or less than 400 ms).
  double IntegratedLufs() const;
  // 0 when no 3 s block passed the gates.
  double RangeLu() const;

  void Reset();

 private:
  template <typename AddPiece>
  void AddInSteps(size_t frames, const AddPiece& add);
  void StepCompleted();

  LoudnessMeter meter_;
  std::vector<const float*> planar_;  // the caller's channels moved on to the current step
  EnergyHistogram blocks_;            // 400 ms blocks, every 100 ms
  EnergyHistogram shortTermBlocks_;   // 3 s blocks, every second
};

}  // namespace tessil::host
