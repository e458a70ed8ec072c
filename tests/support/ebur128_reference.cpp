#include "support/ebur128_reference.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace tessil::test_support {

Ebur128Figures Ebur128Measure(const float* interleaved, size_t frames, int channels, int rate, size_t hopFrames,
                              bool firstChannelDualMono) {
  ebur128_state* state =
      ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
                   EBUR128_MODE_M | EBUR128_MODE_S | EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_SAMPLE_PEAK |
                       EBUR128_MODE_TRUE_PEAK);
  if (state == nullptr) throw std::runtime_error("libebur128 refused the stream");
  if (firstChannelDualMono) ebur128_set_channel(state, 0, EBUR128_DUAL_MONO);
  Ebur128Figures figures;
  const size_t piece = hopFrames > 0 ? hopFrames : std::max<size_t>(frames, 1);
  for (size_t start = 0; start < frames; start += piece) {
    const size_t count = std::min(piece, frames - start);
    ebur128_add_frames_float(state, interleaved + start * static_cast<size_t>(channels), count);
    if (hopFrames == 0 || count < hopFrames) continue;
    double value = 0.0;
    ebur128_loudness_momentary(state, &value);
    figures.momentaryPerHop.push_back(value);
    ebur128_loudness_shortterm(state, &value);
    figures.shortTermPerHop.push_back(value);
  }
  ebur128_loudness_global(state, &figures.integratedLufs);
  ebur128_loudness_range(state, &figures.rangeLu);
  ebur128_loudness_shortterm(state, &figures.shortTermLufs);
  double truePeak = 0.0, samplePeak = 0.0;
  for (int c = 0; c < channels; ++c) {
    double value = 0.0;
    ebur128_true_peak(state, static_cast<unsigned>(c), &value);
    truePeak = std::max(truePeak, value);
    ebur128_sample_peak(state, static_cast<unsigned>(c), &value);
    samplePeak = std::max(samplePeak, value);
  }
  ebur128_destroy(&state);
  figures.truePeakDb = 20.0 * std::log10(truePeak);
  figures.samplePeakDb = 20.0 * std::log10(samplePeak);
  return figures;
}

}  // namespace tessil::test_support
