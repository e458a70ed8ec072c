#include "cli/loudness.h"

#include <ebur128.h>

#include <cmath>
#include <limits>

namespace tessil::cli {

namespace {

double Decibels(double linear) {
  return linear > 0.0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

}  // namespace

LoudnessMeter::LoudnessMeter(int channels, int sampleRate) : channels_(channels) {
  state_ = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                        EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
}

LoudnessMeter::~LoudnessMeter() {
  if (state_ != nullptr) ebur128_destroy(&state_);
}

void LoudnessMeter::AddHost(const float* host, size_t frames, int hostBits) {
  if (state_ == nullptr || frames == 0) return;
  const size_t samples = frames * static_cast<size_t>(channels_);
  nominal_.resize(samples);
  const float scale = std::ldexp(1.0f, 1 - hostBits);
  for (size_t i = 0; i < samples; ++i) nominal_[i] = host[i] * scale;
  ebur128_add_frames_float(state_, nominal_.data(), frames);
}

LoudnessFigures LoudnessMeter::Figures() const {
  LoudnessFigures figures;
  if (state_ == nullptr) return figures;
  figures.measured = true;
  double value = 0.0;
  figures.integratedLufs = ebur128_loudness_global(state_, &value) == EBUR128_SUCCESS
                               ? value
                               : -std::numeric_limits<double>::infinity();
  figures.rangeLu = ebur128_loudness_range(state_, &value) == EBUR128_SUCCESS ? value : 0.0;
  double samplePeak = 0.0;
  double truePeak = 0.0;
  for (int c = 0; c < channels_; ++c) {
    if (ebur128_sample_peak(state_, static_cast<unsigned>(c), &value) == EBUR128_SUCCESS) {
      samplePeak = std::fmax(samplePeak, value);
    }
    if (ebur128_true_peak(state_, static_cast<unsigned>(c), &value) == EBUR128_SUCCESS) {
      truePeak = std::fmax(truePeak, value);
    }
  }
  figures.samplePeakDbfs = Decibels(samplePeak);
  figures.truePeakDbtp = Decibels(truePeak);
  return figures;
}

}  // namespace tessil::cli
