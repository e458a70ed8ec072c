// A streaming high-quality resampler (libsoxr, HQ, linear phase) over interleaved floats.
#pragma once

#include <cstddef>
#include <cstdint>

struct soxr;

namespace tessil::host {

class Resampler {
 public:
  // Throws std::runtime_error when libsoxr refuses the conversion.
  Resampler(uint32_t fromRate, uint32_t toRate, uint32_t channels);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Takes every one of `frames` input frames and writes the output frames that became ready,
  // at most `capacity`; returns how many. The output is time-aligned with the input: the
  // filter's delay shows only as frames that come out later than their input.
  size_t Process(const float* input, size_t frames, float* output, size_t capacity);
  // Back to a fresh stream, keeping the configuration.
  void Clear();

 private:
  soxr* resampler_;
  uint32_t channels_;
};

}  // namespace tessil::host
