#include "host/resampler.h"

#include <soxr.h>

#include <stdexcept>
#include <string>

namespace tessil::host {

Resampler::Resampler(uint32_t fromRate, uint32_t toRate, uint32_t channels) {
  soxr_error_t error = nullptr;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  // The precise clock keeps ratios libsoxr cannot reduce to small integers (44100 / 39569) from
  // drifting against the input over a long stream.
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_LINEAR_PHASE | SOXR_HI_PREC_CLOCK);
  // No worker threads in a real-time path, and small transform blocks: libsoxr releases its
  // output a block at a time, so the block size is what a stream has to wait for.
  soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  runtime.log2_min_dft_size = 8;
  runtime.log2_large_dft_size = 10;
  resampler_ = soxr_create(fromRate, toRate, channels, &error, &io, &quality, &runtime);
  if (resampler_ == nullptr || error != nullptr) {
    if (resampler_ != nullptr) soxr_delete(resampler_);
    throw std::runtime_error("cannot resample " + std::to_string(fromRate) + " Hz to " +
                             std::to_string(toRate) + " Hz: " + (error != nullptr ? error : "libsoxr failed"));
  }
}

Resampler::~Resampler() { soxr_delete(resampler_); }

size_t Resampler::Process(const float* input, size_t frames, float* output, size_t capacity) {
  // Without a place to report the input it took, libsoxr takes all of it, whatever the room for
  // output. A null input would end the stream, so an empty call passes the output instead.
  size_t produced = 0;
  soxr_process(resampler_, frames > 0 ? input : output, frames, nullptr, output, capacity, &produced);
  return produced;
}

}  // namespace tessil::host
