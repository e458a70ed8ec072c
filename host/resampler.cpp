#include "host/resampler.h"

#include <soxr.h>

#include <stdexcept>
#include <string>

namespace tessil::host {

Resampler::Resampler(uint32_t fromRate, uint32_t toRate, uint32_t channels) : channels_(channels) {
  soxr_error_t error = nullptr;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_LINEAR_PHASE);
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
  size_t produced = 0;
  size_t consumed = 0;
  // libsoxr may take the input in more than one go when the output space runs short.
  do {
    size_t used = 0;
    size_t done = 0;
    soxr_process(resampler_, input + consumed * channels_, frames - consumed, &used,
                 output + produced * channels_, capacity - produced, &done);
    consumed += used;
    produced += done;
    if (used == 0 && done == 0) break;
  } while (consumed < frames && produced < capacity);
  return produced;
}

void Resampler::Clear() { soxr_clear(resampler_); }

}  // namespace tessil::host
