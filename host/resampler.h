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

  // Takes all `frames` input frames and writes up to `capacity` output frames; returns how many.
  // When it returns `capacity`, more output may be ready: call again with no input until it
  // returns less. Drained that way, the output ready after n input frames depends on n alone,
  // never on how the input was split. The output is time-aligned with the input: output frame
  // k stands at the time of input frame k * from / to, and the filters' delay shows only as
  // frames that come out later than their input.
  size_t Process(const float* input, size_t frames, float* output, size_t capacity);

 private:
  soxr* resampler_;
};

}  // namespace tessil::host
